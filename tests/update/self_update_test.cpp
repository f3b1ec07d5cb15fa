// The self-update against the test content server: refusals in this process,
// whole update cycles with real launcher processes and real files.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <windows.h>
#include <winternl.h>

#include "allocation_ceiling.h"
#include "content_server_support.h"
#include "launcher/core/log.h"
#include "launcher/core/win_handles.h"
#include "launcher/net/sha256.h"
#include "launcher/session/text_convert.h"
#include "launcher/update/self_update.h"
#include "launcher/update/version_record.h"
#include "scanner_support.h"
#include "test_release_keys.h"
#include "test_support.h"

namespace {

const char NEW_EXE_PATH[] = "/pc/launcher/korval_launcher_0.1.5.exe";

std::string record(const std::string& version, const std::string& url, const std::string& sha,
                   const std::string& size) {
    return "{\"version\": \"" + version + "\", \"url\": \"" + url + "\", \"sha256\": \"" + sha +
           "\", \"size\": " + size + "}";
}

const std::string LOOPING_LINE =
    "!! update: the published executable is not the version latest.json names (0.1.5): it runs "
    "as 0.1.4 after the update from ";

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

class SelfUpdate : public ::testing::Test {
protected:
    TempDir dir{L"update"};
    std::wstring log_path = dir.file(L"korval_launcher.log");

    void SetUp() override {
        ASSERT_TRUE(server_available());
        clear_server_faults();
        clear_server_requests();
    }
    // Publishes a new executable and its record.
    void publish(const std::string& bytes, const std::string& sha,
                 const std::string& version = "0.1.5",
                 const std::string& url = "korval_launcher_0.1.5.exe") {
        ASSERT_TRUE(put_server_file(NEW_EXE_PATH, bytes));
        ASSERT_TRUE(put_server_file("/pc/launcher/latest.json",
                                    record(version, url, sha, std::to_string(bytes.size()))));
    }
};

// Refusals end before any file is touched, so they run in this process.
class SelfUpdateRefusal : public SelfUpdate {
protected:
    void SetUp() override {
        SelfUpdate::SetUp();
        log_open(wide_to_narrow(log_path, CP_ACP), false);
    }
    void TearDown() override { log_close(); }
    std::string log_text() { return read_file(log_path); }

    // Runs the check and returns the requests it made.
    std::vector<std::string> run(const std::string& latest_json, const char* updated_from = "") {
        clear_server_requests();
        put_server_file("/pc/launcher/latest.json", latest_json);
        EXPECT_FALSE(self_update("0.1.4", updated_from));
        EXPECT_FALSE(file_exists(executable_path() + L".new"));
        return server_requests();
    }
};

TEST_F(SelfUpdateRefusal, NotNewerDownloadsNothing) {
    const std::string sha(64, 'a');
    for (const char* version : {"0.1.4", "0.1.3", "0.1.4.0", "0.1.4.0.9", "0.0.99"}) {
        EXPECT_EQ(run(record(version, "k.exe", sha, "10")).size(), 1u) << version;
        EXPECT_TRUE(contains(log_text(), std::string("update: latest ") + version +
                                             ", current 0.1.4 — up to date\r\n"))
            << version;
    }
}

TEST_F(SelfUpdateRefusal, BadRecordsAreRefusedBeforeAnyDownload) {
    const std::string sha(64, 'a');
    for (const std::string& bad : {record("0.1.x", "k.exe", sha, "10"),
                                   record("", "k.exe", sha, "10"),
                                   record("0.1.55555555555555555555", "k.exe", sha, "10")}) {
        EXPECT_EQ(run(bad).size(), 1u) << bad;
    }
    EXPECT_TRUE(contains(log_text(), "!! update: bad version in latest.json\r\n"));

    const std::string other_host = "https://elsewhere.example/pc/launcher/k.exe";
    for (const std::string& bad :
         {record("0.1.5", other_host, sha, "10"), record("0.1.5", "../k.exe", sha, "10"),
          record("0.1.5", "/pc/launcher/a b.exe", sha, "10"), record("0.1.5", "", sha, "10"),
          record("0.1.5", "k.exe", sha.substr(1), "10"), record("0.1.5", "k.exe", sha + "a", "10"),
          record("0.1.5", "k.exe", sha, "0"), record("0.1.5", "k.exe", sha, "268435457"),
          record("0.1.5", "k.exe", sha, "4294967297"),
          R"({"version":"0.1.5","url":"k.exe","sha256":")" + sha + "\"}"}) {
        EXPECT_EQ(run(bad).size(), 1u) << bad;
    }
    EXPECT_EQ(occurrences(log_text(), "!! update: bad url/sha256/size in latest.json\r\n"), 10);
}

TEST_F(SelfUpdateRefusal, OversizedRecordFailsTheFetch) {
    std::string big = record("0.1.5", "k.exe", std::string(64, 'a'), "10");
    big += std::string(65537 - big.size(), ' ');
    run(big);
    EXPECT_TRUE(contains(log_text(), "!! http: /pc/launcher/latest.json larger than 65536 bytes"));
}

TEST_F(SelfUpdateRefusal, DownloadMustMatchTheRecord) {
    const std::string bytes(1000, 'x');
    // One byte short of the recorded size: reported with what arrived.
    ASSERT_TRUE(put_server_file(NEW_EXE_PATH, bytes.substr(1)));
    EXPECT_EQ(run(record("0.1.5", "korval_launcher_0.1.5.exe", sha256_hex(bytes), "1000")).size(),
              2u);
    EXPECT_TRUE(contains(log_text(),
                         "update: 0.1.4 -> 0.1.5, downloading " + std::string(NEW_EXE_PATH) +
                             " (1000 bytes)\r\n"));
    EXPECT_TRUE(contains(log_text(),
                         "!! update: downloaded file does not match latest.json (size 999)\r\n"));

    // Right size, wrong digest.
    ASSERT_TRUE(put_server_file(NEW_EXE_PATH, bytes));
    run(record("0.1.5", "korval_launcher_0.1.5.exe", sha256_hex("other"), "1000"));
    EXPECT_TRUE(contains(log_text(),
                         "!! update: downloaded file does not match latest.json (size 1000)\r\n"));

    // A missing file: the fetch's own line, nothing more.
    run(record("0.1.5", "gone.exe", sha256_hex(bytes), "1000"));
    EXPECT_TRUE(contains(log_text(), "!! http: GET /pc/launcher/gone.exe -> HTTP 404\r\n"));
}

TEST_F(SelfUpdateRefusal, EveryFailedDownloadSaysWhy) {
    const std::string bytes(100000, 'x');
    ASSERT_TRUE(put_server_file(NEW_EXE_PATH, bytes));
    const std::string latest =
        record("0.1.5", "korval_launcher_0.1.5.exe", sha256_hex(bytes), "100000");
    const std::string line = "!! http: GET " + std::string(NEW_EXE_PATH) + " -> ";

    // The server announces the whole body and hangs up part-way, or before
    // the first byte of it.
    for (int cut : {50000, 0}) {
        set_server_faults("{\"" + std::string(NEW_EXE_PATH) + "\": {\"cut_after\": " +
                          std::to_string(cut) + "}}");
        EXPECT_EQ(run(latest).size(), 2u) << cut;
    }
    const std::string log = log_text();
    EXPECT_EQ(occurrences(log, line), 2) << log;
    EXPECT_FALSE(contains(log, "does not match")) << "a cut body never reaches the check";
}

TEST_F(SelfUpdateRefusal, BodyThatFindsNoMemoryIsAnOrdinaryFailure) {
    const std::string bytes(2 * 1048576, 'x');
    ASSERT_TRUE(put_server_file(NEW_EXE_PATH, bytes));
    // The right size with another digest: the run ends at the check, beside
    // this test program rather than in place of it.
    const std::string latest = record("0.1.5", "korval_launcher_0.1.5.exe", sha256_hex("other"),
                                      std::to_string(bytes.size()));
    {
        AllocationCeiling ceiling(1048576);
        EXPECT_EQ(run(latest).size(), 2u);
        EXPECT_GT(ceiling.refusals(), 0);
    }
    EXPECT_TRUE(contains(log_text(), "!! http: GET " + std::string(NEW_EXE_PATH) +
                                         " -> no memory for 2097152 bytes\r\n"))
        << log_text();

    // One block of the announced size is all it takes: no growing copy
    // ever needs room for more.
    {
        AllocationCeiling ceiling(bytes.size() + 1);
        run(latest);
        EXPECT_EQ(ceiling.refusals(), 0);
    }
    EXPECT_TRUE(contains(log_text(),
                         "!! update: downloaded file does not match latest.json (size 2097152)\r\n"))
        << log_text();
}

TEST_F(SelfUpdateRefusal, UpdateThatBroughtNothingNewIsNotRepeated) {
    const std::string bytes(1000, 'x');
    ASSERT_TRUE(put_server_file(NEW_EXE_PATH, bytes));
    // Another digest: a download that does happen stops at the check.
    const std::string newer =
        record("0.1.5", "korval_launcher_0.1.5.exe", sha256_hex("other"), "1000");

    // Offered 0.1.5 again right after an update that left this process at
    // the version it came from, or below it: what the server publishes as
    // 0.1.5 is not 0.1.5.
    for (const char* from : {"0.1.4", "0.1.9"}) {
        EXPECT_EQ(run(newer, from).size(), 1u) << from;
        EXPECT_EQ(occurrences(log_text(), LOOPING_LINE + from + "; not updating again\r\n"), 1)
            << log_text();
    }
    EXPECT_FALSE(contains(log_text(), "downloading"));

    // An update that moved forward may meet a release published since.
    EXPECT_EQ(run(newer, "0.1.3").size(), 2u);
    EXPECT_TRUE(contains(log_text(), "update: 0.1.4 -> 0.1.5, downloading "));

    // Found current after its update: the ordinary line.
    run(record("0.1.4", "korval_launcher_0.1.5.exe", sha256_hex(bytes), "1000"), "0.1.4");
    EXPECT_TRUE(contains(log_text(), "update: latest 0.1.4, current 0.1.4 — up to date\r\n"));
}

// Gives this process another module file name for a while. A launcher in a
// folder too deep for its path cannot even be started under Wine, yet on
// Windows such a process runs, and the system hands its name out cut to the
// buffer; here the loader's own record of the name is what changes.
class ModuleNameOverride {
public:
    explicit ModuleNameOverride(const std::wstring& name) : name_(name) {
// GCC takes the segment read of the thread block for an array access.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
        PEB* peb = NtCurrentTeb()->ProcessEnvironmentBlock;
#pragma GCC diagnostic pop
        LIST_ENTRY* head = &peb->Ldr->InMemoryOrderModuleList;
        for (LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
            auto* module = CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
            if (module->DllBase != GetModuleHandleW(nullptr)) continue;
            entry_ = module;
            saved_ = module->FullDllName;
            module->FullDllName.Buffer = name_.data();
            module->FullDllName.Length = static_cast<USHORT>(name_.size() * sizeof(wchar_t));
            module->FullDllName.MaximumLength = module->FullDllName.Length;
            break;
        }
    }
    ~ModuleNameOverride() {
        if (entry_) entry_->FullDllName = saved_;
    }
    ModuleNameOverride(const ModuleNameOverride&) = delete;
    ModuleNameOverride& operator=(const ModuleNameOverride&) = delete;
    bool active() const { return entry_ != nullptr; }

private:
    std::wstring name_;
    LDR_DATA_TABLE_ENTRY* entry_ = nullptr;
    UNICODE_STRING saved_ = {};
};

class CurrentFolder {
public:
    explicit CurrentFolder(const std::wstring& folder) {
        wchar_t previous[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, previous);
        previous_ = previous;
        SetCurrentDirectoryW(folder.c_str());
    }
    ~CurrentFolder() { SetCurrentDirectoryW(previous_.c_str()); }

private:
    std::wstring previous_;
};

TEST_F(SelfUpdateRefusal, UnknownOwnPathIsDecidedBeforeAnyDownload) {
    const std::string bytes(1000, 'x');
    publish(bytes, sha256_hex(bytes));
    // What "{exe}.old" becomes when formed from an empty path.
    ASSERT_TRUE(write_file(dir.file(L".old"), "not the launcher's"));
    CurrentFolder here(dir.path());

    const std::wstring too_long = dir.path() + L"\\" + std::wstring(300, L'k') + L"\\korval.exe";
    for (const std::wstring& name : {too_long, std::wstring()}) {
        ModuleNameOverride override(name);
        ASSERT_TRUE(override.active());
        clear_server_requests();
        remove_old_executable();
        EXPECT_FALSE(self_update("0.1.4", ""));
        EXPECT_TRUE(server_requests().empty()) << name.size();
    }
    EXPECT_EQ(read_file(dir.file(L".old")), "not the launcher's");
    EXPECT_FALSE(file_exists(dir.file(L".new")));
    const std::string log = log_text();
    EXPECT_EQ(occurrences(log, "!! update: own path unknown (206), not looking for .old\r\n"), 1)
        << log;
    EXPECT_EQ(occurrences(log, "!! update: own path unknown (206), not updating\r\n"), 1) << log;
    EXPECT_EQ(occurrences(log, "!! update: own path unknown ("), 4) << log;
}

// A copy of the launcher in a folder of its own, run as a real process.
class UpdateCycle : public SelfUpdate {
protected:
    std::wstring exe = dir.file(L"korval_launcher.exe");
    std::string launcher_bytes;

    void SetUp() override {
        SelfUpdate::SetUp();
        launcher_bytes = read_file(exe_dir() + L"\\korval_launcher.exe");
        ASSERT_FALSE(launcher_bytes.empty());
        ASSERT_TRUE(write_file(exe, launcher_bytes));
        // A launcher that runs on after the update step closes its window at once.
        ASSERT_TRUE(install_stub_runtime(dir.path(), "close\n"));
    }
    int run_launcher(const std::wstring& args) {
        return run_process(exe, L"--game-dir=C:\\none " + args, 60000);
    }
    std::string log_text() { return read_file(log_path); }
    bool wait_for_log(const std::string& part, DWORD timeout_ms) {
        for (DWORD waited = 0; waited < timeout_ms; waited += 100) {
            if (contains(log_text(), part)) return true;
            Sleep(100);
        }
        return false;
    }
    // Until no launcher holds the single-instance lock, so that the next
    // test's launcher is not taken for a second instance.
    void wait_for_no_launcher() {
        for (int i = 0; i < 300; ++i) {
            UniqueHandle lock(OpenMutexW(SYNCHRONIZE, FALSE, L"Local\\KorvalLauncher"));
            if (!lock.valid()) return;
            Sleep(100);
        }
    }
    std::string wait_for_probe() {
        for (int i = 0; i < 200 && !file_exists(dir.file(L"probe.txt")); ++i) Sleep(50);
        return read_file(dir.file(L"probe.txt"));
    }
};

TEST_F(UpdateCycle, NewerLauncherReplacesAndRestartsItself) {
    const std::string probe = read_file(exe_dir() + L"\\update_probe.exe");
    ASSERT_FALSE(probe.empty());
    publish(probe, upper(sha256_hex(probe)), "0.1.5",
            content_base_url() + "pc/launcher/korval_launcher_0.1.5.exe");

    // This launcher was itself started by an update, so its line already
    // carries one marker; the next one is appended after it.
    ASSERT_EQ(run_launcher(L"--dev --updated-from=0.1.3"), 0);
    std::string record_text = wait_for_probe();
    ASSERT_FALSE(record_text.empty()) << "the new launcher did not run";
    std::string line = record_text.substr(0, record_text.find('\n'));
    EXPECT_TRUE(contains(line, "--dev --updated-from=0.1.3 --updated-from=0.1.4")) << line;
    const std::string marker = " --updated-from=0.1.4";
    EXPECT_EQ(line.substr(line.size() - marker.size()), marker) << "appended last: " << line;
    EXPECT_TRUE(contains(record_text, "\nmutex free\n")) << "the lock was handed over";

    EXPECT_EQ(read_file(exe), probe);
    EXPECT_EQ(read_file(exe + L".old"), launcher_bytes);
    EXPECT_FALSE(file_exists(exe + L".new"));
    std::string log = log_text();
    EXPECT_TRUE(contains(log, "update: now 0.1.4 (was 0.1.3)\r\n"));
    EXPECT_TRUE(contains(log, "update: 0.1.4 -> 0.1.5, downloading " + std::string(NEW_EXE_PATH) +
                                  " (" + std::to_string(probe.size()) + " bytes)\r\n"));
    EXPECT_TRUE(contains(log, "update: starting 0.1.5, exiting\r\n"));
    EXPECT_FALSE(contains(log, " exit\r\n")) << "the old launcher ends without its own run";
    EXPECT_TRUE(contains(log, "releases are not verified (no release key in this build)\r\n"));
    EXPECT_FALSE(file_exists(dir.file(L"cef\\stub_report.txt")))
        << "the browser runtime was never loaded";

    // The next start (a real launcher again) clears ".old", and with
    // --no-update asks the server nothing.
    ASSERT_TRUE(write_file(exe, launcher_bytes));
    clear_server_requests();
    ASSERT_EQ(run_launcher(L"--no-update"), 0);
    EXPECT_FALSE(file_exists(exe + L".old"));
    EXPECT_TRUE(server_requests().empty());
    EXPECT_TRUE(contains(log_text(), " exit\r\n"));
}

TEST_F(UpdateCycle, OldBuildPublishedAsNewerUpdatesOnceAndRunsOn) {
    // The build uploaded as 0.1.5 is this very launcher: after the swap the
    // new process is offered 0.1.5 again.
    publish(launcher_bytes, sha256_hex(launcher_bytes));
    ASSERT_EQ(run_launcher(L""), 0);
    const bool ran_on = wait_for_log(" exit\r\n", 60000);
    // Whatever happened, a chain of restarts ends here before anything is judged.
    const int downloads = [] {
        int n = 0;
        for (const std::string& request : server_requests())
            if (contains(request, "korval_launcher_0.1.5.exe")) ++n;
        return n;
    }();
    put_server_file("/pc/launcher/latest.json",
                    record("0.1.4", "korval_launcher_0.1.5.exe", std::string(64, 'a'), "1"));
    wait_for_no_launcher();

    const std::string log = log_text();
    ASSERT_TRUE(ran_on) << log;
    EXPECT_EQ(downloads, 1);
    EXPECT_EQ(occurrences(log, "update: starting 0.1.5, exiting\r\n"), 1) << log;
    EXPECT_EQ(occurrences(log, "update: now 0.1.4 (was 0.1.4)\r\n"), 1) << log;
    EXPECT_EQ(occurrences(log, LOOPING_LINE + "0.1.4; not updating again\r\n"), 1) << log;
    EXPECT_EQ(occurrences(log, " exit\r\n"), 1) << log;
    EXPECT_EQ(read_file(exe), launcher_bytes);
    EXPECT_FALSE(file_exists(exe + L".new"));
}

TEST_F(UpdateCycle, UnstartableDownloadRollsBackAndRunsOn) {
    // Right size and digest, but no program: the start fails with 193.
    const std::string junk(4096, 'J');
    publish(junk, sha256_hex(junk));
    // The window stays a while, so that the lock can be looked at as it runs on.
    ASSERT_TRUE(install_stub_runtime(dir.path(), "wait 3000\nclose\n"));
    const std::string failed_start = "!! update: cannot start new exe (193), rolling back\r\n";
    // The lock was given up for the new launcher before its start failed: the
    // launcher that runs on must hold it again, or a second one starts beside it.
    std::atomic<bool> ended{false};
    DWORD lock_state = WAIT_FAILED;
    std::thread watcher([&] {
        while (!ended && lock_state != WAIT_TIMEOUT) {
            Sleep(20);
            if (!contains(log_text(), failed_start)) continue;
            UniqueHandle lock(OpenMutexW(SYNCHRONIZE, FALSE, L"Local\\KorvalLauncher"));
            if (!lock.valid()) continue;
            lock_state = WaitForSingleObject(lock.get(), 0);
            if (lock_state == WAIT_OBJECT_0 || lock_state == WAIT_ABANDONED) ReleaseMutex(lock.get());
        }
    });
    const int exit_code = run_launcher(L"");
    ended = true;
    watcher.join();
    ASSERT_EQ(exit_code, 0);
    EXPECT_TRUE(contains(log_text(), failed_start));
    EXPECT_EQ(lock_state, static_cast<DWORD>(WAIT_TIMEOUT)) << "held by the launcher that ran on";
    EXPECT_TRUE(contains(log_text(), " exit\r\n")) << "the start goes on";
    EXPECT_EQ(read_file(exe), launcher_bytes);
    EXPECT_FALSE(file_exists(exe + L".new"));
    EXPECT_FALSE(file_exists(exe + L".old"));
}

TEST_F(UpdateCycle, LockedNewFileIsReportedAndLeavesTheLauncherInPlace) {
    const std::string probe = read_file(exe_dir() + L"\\update_probe.exe");
    publish(probe, sha256_hex(probe));
    UniqueHandle lock(CreateFileW((exe + L".new").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock.valid());
    ASSERT_EQ(run_launcher(L""), 0);
    lock.reset();
    EXPECT_TRUE(contains(log_text(), "!! update: cannot write " +
                                         wide_to_narrow(exe, CP_ACP) + ".new (32)\r\n"))
        << log_text();
    EXPECT_TRUE(contains(log_text(), " exit\r\n"));
    EXPECT_EQ(read_file(exe), launcher_bytes);
    EXPECT_FALSE(file_exists(exe + L".old"));
}

TEST_F(UpdateCycle, UnmovableRunningExecutableIsReported) {
    // ".old" is a folder with content: it can be neither deleted at the start
    // nor replaced by the running executable.
    ASSERT_TRUE(CreateDirectoryW((exe + L".old").c_str(), nullptr));
    ASSERT_TRUE(write_file(exe + L".old\\keep", "k"));
    const std::string probe = read_file(exe_dir() + L"\\update_probe.exe");
    publish(probe, sha256_hex(probe));
    ASSERT_EQ(run_launcher(L""), 0);
    std::string log = log_text();
    EXPECT_TRUE(contains(log, "update: cannot delete .old yet (")) << log;
    EXPECT_TRUE(contains(log, "!! update: cannot rename running exe (")) << log;
    EXPECT_TRUE(contains(log, " exit\r\n"));
    EXPECT_EQ(read_file(exe), launcher_bytes);
    EXPECT_FALSE(file_exists(exe + L".new"));
}

// A program that lets the new file be written but not renamed, longer than
// the launcher waits: the new executable never takes the launcher's name, and
// the running one must get it back, or the player has no launcher at all.
TEST_F(UpdateCycle, ANewExecutableThatCannotTakeTheNameLeavesTheOldOneInPlace) {
    const std::string probe = read_file(exe_dir() + L"\\update_probe.exe");
    publish(probe, sha256_hex(probe));
    ASSERT_TRUE(write_file(exe + L".new", "left by an earlier update"));
    FileHolder holder(exe + L".new", Hold::Scanner);
    ASSERT_TRUE(holder.holding());

    ASSERT_EQ(run_launcher(L""), 0);
    holder.release();
    const std::string log = log_text();
    EXPECT_TRUE(contains(log, "!! update: cannot put new exe in place (32), rolling back\r\n"))
        << log;
    EXPECT_TRUE(contains(log, "korval_launcher.exe.new: busy (32), retrying\r\n")) << log;
    EXPECT_TRUE(contains(log, " exit\r\n")) << "the start goes on";
    EXPECT_EQ(read_file(exe), launcher_bytes);
    EXPECT_FALSE(file_exists(exe + L".old"));
    EXPECT_FALSE(file_exists(dir.file(L"probe.txt"))) << "the new executable never ran";
}

// A scanner holds every new file for a moment, the new executable first: the
// update waits for it and goes through.
TEST_F(UpdateCycle, AScannerHoldingNewFilesOnlyDelaysTheUpdate) {
    const std::string probe = read_file(exe_dir() + L"\\update_probe.exe");
    publish(probe, sha256_hex(probe));
    ScannerStandIn scanner({dir.path()}, 400);
    ASSERT_TRUE(scanner.running());
    ASSERT_EQ(run_launcher(L""), 0);
    const std::string record_text = wait_for_probe();
    const std::vector<std::string> held = scanner.stop();
    EXPECT_FALSE(record_text.empty()) << "the new launcher did not run";
    EXPECT_EQ(read_file(exe), probe);
    EXPECT_EQ(read_file(exe + L".old"), launcher_bytes);
    EXPECT_FALSE(file_exists(exe + L".new"));
    const std::string log = log_text();
    EXPECT_TRUE(contains(log, "update: starting 0.1.5, exiting\r\n")) << log;
    EXPECT_FALSE(contains(log, "!! ")) << log;
    std::string seen;
    for (const std::string& path : held) seen += path + "\n";
    EXPECT_TRUE(contains(seen, "korval_launcher.exe.new\n")) << seen;
    EXPECT_TRUE(contains(log, "korval_launcher.exe.new: busy (32), retrying\r\n")) << log;
}

// A launcher built with release keys takes a new executable only from a
// record signed by one of them, at a release no older than one it accepted;
// a refused record leaves the running launcher as it is.
TEST_F(UpdateCycle, AKeyedLauncherUpdatesOnlyFromASignedCurrentRecord) {
    SettingsKeyGuard settings;
    const std::string keyed = read_file(exe_dir() + L"\\korval_launcher_keyed.exe");
    ASSERT_FALSE(keyed.empty());
    ASSERT_TRUE(write_file(exe, keyed));
    const std::string probe = read_file(exe_dir() + L"\\update_probe.exe");
    publish(probe, sha256_hex(probe));
    const std::string latest = record("0.1.5", "korval_launcher_0.1.5.exe", sha256_hex(probe),
                                      std::to_string(probe.size()));
    ASSERT_TRUE(put_server_file("/pc/launcher/latest.json", latest));
    auto expect_refused = [&](const std::string& why) {
        ASSERT_EQ(run_launcher(L""), 0);
        const std::string log = log_text();
        EXPECT_TRUE(contains(log, "!! update: latest.json not verified: " + why)) << log;
        EXPECT_FALSE(contains(log, "downloading")) << log;
        EXPECT_TRUE(contains(log, " exit\r\n")) << "the start goes on";
        EXPECT_EQ(read_file(exe), keyed);
        EXPECT_FALSE(file_exists(dir.file(L"probe.txt")));
    };

    expect_refused("no signature");
    EXPECT_FALSE(contains(log_text(), "releases are not verified"));
    ASSERT_TRUE(put_server_file("/pc/launcher/latest.json.sig",
                                signature_file_for("latest.json", 3, latest + "\n", {KEY_A})));
    expect_refused("the signature does not match");
    ASSERT_TRUE(put_server_file("/pc/launcher/latest.json.sig",
                                signature_file_for("manifest.json", 3, latest, {KEY_A})));
    expect_refused("the signature is for 'manifest.json'");

    ASSERT_TRUE(put_signed_server_file("/pc/launcher/latest.json", "latest.json", 3, latest));
    ASSERT_EQ(run_launcher(L""), 0);
    EXPECT_FALSE(wait_for_probe().empty()) << "the new launcher did not run: " << log_text();
    EXPECT_EQ(read_file(exe), probe);

    // The release before it, validly signed once, is refused from now on.
    wait_for_no_launcher();
    ASSERT_TRUE(write_file(exe, keyed));
    DeleteFileW(dir.file(L"probe.txt").c_str());
    ASSERT_TRUE(put_signed_server_file("/pc/launcher/latest.json", "latest.json", 2, latest));
    expect_refused("release 2 is older than release 3, already accepted");
}

}  // namespace
