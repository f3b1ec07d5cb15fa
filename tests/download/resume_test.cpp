// Partial files: resumed, restarted or kept, across attempts, stops and runs.
#include <gtest/gtest.h>

#include "content_server_support.h"
#include "job_harness.h"
#include "launcher/core/win_handles.h"
#include "launcher/download/download_events.h"
#include "launcher/download/file_index.h"
#include "launcher/download/game_files_job.h"
#include "launcher/download/part_file.h"
#include "launcher/net/sha256.h"
#include "scanner_support.h"

namespace {

class Resume : public JobFixtureBase, public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_available());
        CreateDirectoryW(game_dir.c_str(), nullptr);
    }
    void put_local(const std::string& path, const std::string& bytes) {
        std::wstring p = local(path);
        CreateDirectoryW(p.substr(0, p.find_last_of(L'\\')).c_str(), nullptr);
        ASSERT_TRUE(write_file(p, bytes));
    }
    uint64_t part_size(const std::string& path) {
        FileState s = query_file_state(local(path) + L".part");
        return s.exists ? s.size : 0;
    }
};

std::string server_path(const std::string& path) { return std::string(GAME_BASE_PATH) + "/" + path; }

TEST_F(Resume, PartialFilesAreResumedOrStartedAgain) {
    const std::vector<GameFile> files = {
        {"resume.bin", pattern_bytes(1000000, 1)},     // correct head
        {"wrong.bin", pattern_bytes(300000, 2)},       // full length, wrong bytes
        {"norange.bin", pattern_bytes(400000, 3)},     // server ignores ranges
        {"whole.bin", pattern_bytes(200000, 4)},       // complete and correct
        {"longer.bin", pattern_bytes(150000, 5)},      // partial longer than the file
        {"plain.bin", pattern_bytes(50000, 6)},
    };
    publish_game(files);
    put_local("resume.bin.part", files[0].content.substr(0, 600000));
    put_local("wrong.bin.part", pattern_bytes(300000, 77));
    put_local("norange.bin.part", files[2].content.substr(0, 100000));
    put_local("whole.bin.part", files[3].content);
    put_local("longer.bin.part", files[4].content + "tail");
    set_server_faults(R"({"/pc/files/norange.bin": {"ignore_range": true}})");

    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    for (const GameFile& f : files) {
        EXPECT_EQ(read_file(local(f.path)), f.content) << f.path;
        EXPECT_FALSE(file_exists(local(f.path) + L".part")) << f.path;
    }

    std::vector<SeenRequest> resume, wrong, norange, whole, longer;
    for (const SeenRequest& r : seen_requests()) {
        if (r.path == server_path("resume.bin")) resume.push_back(r);
        if (r.path == server_path("wrong.bin")) wrong.push_back(r);
        if (r.path == server_path("norange.bin")) norange.push_back(r);
        if (r.path == server_path("whole.bin")) whole.push_back(r);
        if (r.path == server_path("longer.bin")) longer.push_back(r);
    }
    // Only the tail of a correct head is fetched.
    ASSERT_EQ(resume.size(), 1u);
    EXPECT_EQ(resume[0].range, "bytes=600000-");
    // A wrong complete file is found wrong without asking the server, thrown
    // away, and fetched from byte 0 after the first pause.
    ASSERT_EQ(wrong.size(), 1u);
    EXPECT_EQ(wrong[0].range, "");
    // A server that will not resume makes the next attempt start from 0.
    ASSERT_EQ(norange.size(), 2u);
    EXPECT_EQ(norange[0].range, "bytes=100000-");
    EXPECT_EQ(norange[1].range, "");
    EXPECT_TRUE(whole.empty());
    ASSERT_EQ(longer.size(), 1u);
    EXPECT_EQ(longer[0].range, "");

    const std::string log = log_text();
    EXPECT_TRUE(contains(
        log, "download: wrong.bin attempt 1: файл повреждён при скачивании (размер 300000)\r\n"))
        << log;
    EXPECT_TRUE(
        contains(log, "download: norange.bin attempt 1: сервер не поддерживает докачку\r\n"))
        << log;
    EXPECT_EQ(occurrences(log, " attempt "), 2) << log;
    EXPECT_TRUE(contains(log, "download: done, 6 files,"));
}

TEST_F(Resume, StopDuringTransferKeepsThePartialForTheNextRun) {
    const std::vector<GameFile> files = {{"slow/big.bin", pattern_bytes(2000000, 8)}};
    publish_game(files);
    set_server_faults(R"({"/pc/files/slow/big.bin": {"trickle": [16384, 20]}})");

    begin();
    ASSERT_TRUE(window.pump_until([&] { return part_size("slow/big.bin") > 200000; }, 20000));
    stop_game_files_job();
    window.drain();
    EXPECT_EQ(window.start_game, 0);
    EXPECT_FALSE(window.has_error()) << window.last_event();
    const uint64_t kept = part_size("slow/big.bin");
    EXPECT_GT(kept, 200000u);
    EXPECT_LT(kept, files[0].content.size());
    EXPECT_FALSE(file_exists(local("slow/big.bin")));
    EXPECT_FALSE(contains(log_text(), "attempt")) << log_text();
    EXPECT_FALSE(contains(log_text(), "!! ")) << log_text();

    clear_server_faults();
    clear_server_requests();
    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    EXPECT_EQ(read_file(local("slow/big.bin")), files[0].content);
    std::vector<SeenRequest> seen = seen_requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].range, "bytes=" + std::to_string(kept) + "-");
}

// The index is saved every 15 s during a long download, so a launcher killed
// (or stopped) later never hashes again what that save recorded.
TEST_F(Resume, FilesRecordedByTheRegularIndexSaveAreTrustedAfterAStop) {
    const std::vector<GameFile> files = {{"done/a.bin", pattern_bytes(300000, 31)},
                                         {"done/b.bin", pattern_bytes(200000, 32)},
                                         {"slow/c.bin", pattern_bytes(400000, 33)}};
    publish_game(files);
    // About 25 s for c.bin: a and b are in place long before the first save.
    set_server_faults(R"({"/pc/files/slow/c.bin": {"trickle": [4096, 250]}})");
    auto recorded = [&] {
        const std::string index = index_text();
        return contains(index, "done/a.bin\t") && contains(index, "done/b.bin\t");
    };
    begin();
    ASSERT_TRUE(window.pump_until(recorded, 25000)) << index_text();
    stop_game_files_job();
    window.drain();
    EXPECT_FALSE(file_exists(local("slow/c.bin")));

    clear_server_faults();
    clear_server_requests();
    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    EXPECT_EQ(window.count("Проверено"), 0) << "nothing hashed again";
    for (const GameFile& f : files) EXPECT_EQ(read_file(local(f.path)), f.content) << f.path;
    EXPECT_EQ(requests_for(server_path("done/a.bin")), 0);
    EXPECT_EQ(requests_for(server_path("done/b.bin")), 0);
}

TEST_F(Resume, StopDuringHashPassSavesNothingAndSaysNothing) {
    // Files in place but never verified: every one must be hashed.
    std::vector<GameFile> files;
    for (unsigned i = 0; i < 16; ++i)
        files.push_back({"h" + std::to_string(i) + ".bin", pattern_bytes(4 * 1048576, 20 + i)});
    publish_game(files);
    for (const GameFile& f : files) put_local(f.path, f.content);

    begin();
    ASSERT_TRUE(window.pump_until([&] { return window.count("Проверено 0 из 16") > 0; }, 20000));
    stop_game_files_job();
    window.drain();
    EXPECT_EQ(window.start_game, 0);
    EXPECT_FALSE(window.has_error());
    EXPECT_EQ(window.count("Все файлы на месте"), 0);
    EXPECT_LT(window.count("Проверено"), 16);
    EXPECT_FALSE(file_exists(index_path()));
    for (const SeenRequest& r : seen_requests()) EXPECT_EQ(r.path, "/pc/manifest.json");
    EXPECT_FALSE(contains(log_text(), "files ok")) << log_text();
}

// A pause, like a stop, silences the job at once: while its worker still
// waits for the server and the job waits for the worker, nothing more reaches
// the page, which shows the pause.
TEST_F(Resume, APausedJobPostsNothingWhileItsWorkerStillWaits) {
    publish_game({{"stalled.bin", pattern_bytes(100000, 46)}});
    // The worker waits for the answer's headers, where no pause reaches it.
    set_server_faults(R"({"/pc/files/stalled.bin": {"stall": 2}})");

    begin();
    ASSERT_TRUE(window.pump_until([&] { return window.count("\"phase\":\"download\"") > 0; },
                                  20000));
    // Just after one of the watch's events: the next is 250 ms away.
    const size_t heard = window.events.size();
    stop_game_files_job(JobStop::Pause);
    window.drain();
    EXPECT_EQ(window.events.size(), heard) << window.last_event();
    EXPECT_FALSE(contains(log_text(), "did not stop")) << log_text();
}

TEST_F(Resume, FileHeldOpenKeepsItsPartial) {
    const std::vector<GameFile> files = {{"gta_sa.exe", pattern_bytes(300000, 9)},
                                         {"other.bin", pattern_bytes(1000, 10)}};
    publish_game(files);
    put_local("gta_sa.exe", "an older, shorter version");

    // The game holds its executable open from a process of its own.
    FileHolder holder(local("gta_sa.exe"), Hold::Game);
    ASSERT_TRUE(holder.holding());

    run_job();
    holder.release();
    EXPECT_EQ(window.start_game, 0);
    EXPECT_EQ(window.last_event(),
              error_event_text("Ошибка загрузки",
                               "Не удалось загрузить файл 'gta_sa.exe': файл занят — закройте игру."));
    EXPECT_EQ(read_file(local("gta_sa.exe.part")), files[0].content);
    EXPECT_EQ(requests_for(server_path("gta_sa.exe")), 1);  // no retry
    EXPECT_FALSE(contains(log_text(), "attempt")) << log_text();

    // Once the game is closed, the complete partial goes into place unasked.
    clear_server_requests();
    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    EXPECT_EQ(read_file(local("gta_sa.exe")), files[0].content);
    EXPECT_EQ(requests_for(server_path("gta_sa.exe")), 0);
}

TEST_F(Resume, PartialIsHashedAndAppendedThroughOneHandle) {
    const std::string head = pattern_bytes(300000, 41);
    const std::string tail = pattern_bytes(200000, 42);
    put_local("p.bin.part", head);
    const std::wstring part_path = local("p.bin.part");
    const std::wstring other = local("other.bin");
    ASSERT_TRUE(write_file(other, std::string(head.size(), '\0')));

    std::atomic<int32_t> stop{0};
    {
        Sha256Hasher hasher;
        hasher.open();
        PartFile part;
        std::string error;
        ASSERT_EQ(open_part_file(part_path, head.size() + tail.size(), hasher, stop, part, error),
                  PartOpen::Ready)
            << error;
        EXPECT_EQ(part.offset, head.size());
        // From the digest of the head to the end of the tail nobody can
        // delete, replace or rewrite the partial under the attempt.
        EXPECT_FALSE(DeleteFileW(part_path.c_str()));
        EXPECT_FALSE(MoveFileExW(other.c_str(), part_path.c_str(), MOVEFILE_REPLACE_EXISTING));
        UniqueHandle writer(CreateFileW(part_path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(writer.valid());
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(part.file.get(), tail.data(), static_cast<DWORD>(tail.size()),
                              &written, nullptr));
        hasher.update(tail.data(), tail.size());
        EXPECT_EQ(hasher.hex_digest(), sha256_hex(head + tail));
    }
    EXPECT_EQ(read_file(part_path), head + tail);

    // A partial that is gone is started from byte 0 with a fresh digest, never
    // padded up to an offset found earlier.
    ASSERT_TRUE(DeleteFileW(part_path.c_str()));
    Sha256Hasher hasher;
    hasher.open();
    PartFile part;
    std::string error;
    ASSERT_EQ(open_part_file(part_path, head.size(), hasher, stop, part, error), PartOpen::Ready);
    EXPECT_EQ(part.offset, 0u);
    EXPECT_EQ(query_file_state(part_path).size, 0u);
    EXPECT_EQ(hasher.hex_digest(), sha256_hex(""));
}

TEST_F(Resume, StopDuringReHashEndsAtOnceAndKeepsThePartial) {
    // A 2 GiB partial (sparse: no disk space, but every byte is read and
    // hashed, which takes several seconds) of a file one byte longer.
    const uint64_t head = 2ull << 30;
    const std::vector<GameFile> small = {{"small.bin", pattern_bytes(10000, 43)}};
    publish_game(small);
    std::string manifest = manifest_for(small);
    manifest.replace(manifest.rfind("}\n ]"), 1,
                     "},\n  {\"url\": \"huge.img\", \"hash\": \"" + std::string(64, 'a') +
                         "\", \"size\": " + std::to_string(head + 1) + "}");
    ASSERT_TRUE(put_server_file("/pc/manifest.json", manifest));
    {
        UniqueHandle part(CreateFileW((local("huge.img") + L".part").c_str(), GENERIC_WRITE, 0,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(part.valid());
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(head);
        ASSERT_TRUE(SetFilePointerEx(part.get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(part.get()));
    }

    begin();
    // The workers start together: once the small file is in place, the other
    // one is hashing the partial's head.
    ASSERT_TRUE(window.pump_until([&] { return file_exists(local("small.bin")); }, 20000));
    const DWORD start = GetTickCount();
    stop_game_files_job();
    const DWORD elapsed = GetTickCount() - start;
    window.drain();
    EXPECT_LT(elapsed, 1500u);
    EXPECT_FALSE(window.has_error()) << window.last_event();
    EXPECT_EQ(part_size("huge.img"), head);
    EXPECT_EQ(requests_for(server_path("huge.img")), 0);
    EXPECT_FALSE(contains(log_text(), "did not stop")) << log_text();
}

TEST_F(Resume, StoppedJobLeavesTheIndexAsTheStopFoundIt) {
    const std::vector<GameFile> files = {{"quick.bin", pattern_bytes(5000, 44)},
                                         {"slow.bin", pattern_bytes(2000000, 45)}};
    publish_game(files);
    set_server_faults(R"({"/pc/files/slow.bin": {"trickle": [16384, 20]}})");

    begin();
    ASSERT_TRUE(window.pump_until(
        [&] { return file_exists(local("quick.bin")) && part_size("slow.bin") > 100000; }, 20000));
    // Written after the hash pass, before the download.
    const std::string before = index_text();
    ASSERT_TRUE(file_exists(index_path()));
    stop_game_files_job();
    // A stopped job may outlive its stop; the index is then the next job's,
    // so the stopped one does not write it again, not even the file it
    // finished (the next run hashes that once).
    EXPECT_EQ(index_text(), before);
    EXPECT_FALSE(contains(index_text(), "quick.bin"));
    EXPECT_FALSE(file_exists(index_path() + L".tmp"));

    clear_server_faults();
    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    EXPECT_TRUE(contains(index_text(), "quick.bin\t5000\t"));
    EXPECT_EQ(requests_for(server_path("quick.bin")), 1);
}

}  // namespace
