// The page's messages played by the stand-in runtime against the launcher's
// own window procedure and dispatcher, with the game files job against the
// test content server and the SA-MP client's stand-in as samp.exe.
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>
#include <objbase.h>

#include "download/job_harness.h"
#include "launcher/browser/page_bridge.h"
#include "launcher/core/window_messages.h"
#include "launcher/core/session_state.h"
#include "launcher/core/win_handles.h"
#include "launcher/download/game_files_job.h"
#include "launcher/session/game_dir_setting.h"
#include "launcher/session/install_dir.h"
#include "launcher/session/json_writer.h"
#include "launcher/session/text_convert.h"
#include "stub_harness.h"
#include "content_server_support.h"

namespace {

const char MAIN[] = "203.0.113.10:7777";

std::string message(const std::string& json) { return "console __launcher__:" + json + "\n"; }
// In the page's own member order: its JSON.stringify puts the server first.
std::string nick_message(const std::string& nick, const std::string& server = "main") {
    return message(R"({"type":"nick","serverId":")" + server + R"(","nick":")" + nick + R"("})");
}

void delete_samp_key() { RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SAMP"); }

std::string samp_value(const char* name) {
    RegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\SAMP", 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return "(no key)";
    char buffer[512] = {};
    DWORD size = sizeof buffer - 1;
    if (RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS)
        return "(none)";
    return buffer;
}

void put_samp_name(const std::string& name) {
    RegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\SAMP", 0, nullptr, 0, KEY_WRITE,
                              nullptr, key.out(), nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key.get(), "PlayerName", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(name.c_str()), DWORD(name.size() + 1));
}

// The folder dialogs open now, as the user sees them: by their title.
std::vector<HWND> open_folder_dialogs() {
    std::vector<HWND> found;
    EnumWindows(
        [](HWND window, LPARAM list) CALLBACK -> BOOL {
            wchar_t class_name[16] = {};
            wchar_t title[64] = {};
            GetClassNameW(window, class_name, 16);
            GetWindowTextW(window, title, 64);
            if (std::wstring(class_name) == L"#32770" &&
                std::wstring(title) == L"Куда установить игру KORVAL")
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

int events_of(const std::vector<std::string>& events, const std::string& type) {
    int n = 0;
    for (const std::string& e : events) n += contains(e, "{\"type\":\"" + type + "\"");
    return n;
}

// A session as the launcher starts one: main server, nothing chosen yet.
class PageSession : public ::testing::Test {
protected:
    StubRun run;
    SettingsKeyGuard settings;
    TempDir games{L"Игры korval"};
    std::wstring game_dir = games.file(L"KORVAL");

    void SetUp() override {
        delete_samp_key();
        session = SessionState{};
        session.main_server_address = MAIN;
        session.server_address = MAIN;
        // As if a folder had been saved before: the proposal is not a system folder.
        session.game_dir = wide_to_narrow(game_dir, CP_ACP);
        clear_server_faults();
        clear_server_requests();
    }
    void TearDown() override {
        stop_game_files_job();
        delete_samp_key();
        // The launcher's own account of a failed case.
        if (!HasFailure()) return;
        for (const std::string& line : run.log()) std::printf("  log| %s\n", line.c_str());
        for (const std::string& line : run.report())
            if (line.rfind("await", 0) == 0 || line.rfind("!!", 0) == 0 || line.rfind("console", 0) == 0)
                std::printf("  stub| %.160s\n", line.c_str());
    }
    void play(const std::string& scenario, UINT limit_ms = 30000) {
        run.write_scenario(scenario);
        ASSERT_TRUE(run.init());
        run.host_browser(false, limit_ms);
        // Every run here ends by itself: by the scenario, the page or the close timer.
        EXPECT_FALSE(run.overdue());
    }
    bool logged(const std::string& line) const { return contains(run.log(), line); }
};

TEST_F(PageSession, ReadyAnswersWithInitAndTheSavedSampName) {
    put_samp_name("Ivan_Petrov");
    play(message(R"({"type":"ready"})") + "await \"init\"\n" + message(R"({"type":"ready"})") +
         "await \"init\"\nclose\n");
    const std::vector<std::string> events = run.events();
    ASSERT_EQ(events.size(), 2u);
    const std::string init =
        R"({"type":"init","nick":"Ivan_Petrov","version":"0.1.4","engineering":false,)"
        R"("installed":false,"servers":[{"id":"main","name":"Основной сервер","address":")" +
        std::string(MAIN) +
        R"("},{"id":"test","name":"Тестовый сервер","address":"203.0.113.10:7778"}],)"
        R"("installDir":)" + json_quote(ansi_to_utf8(session.game_dir)) + "}";
    EXPECT_EQ(events[0], init);
    EXPECT_EQ(events[1], init) << "a reloaded page gets the same answer";
    EXPECT_TRUE(logged("page ready, saved nick 'Ivan_Petrov'"));
}

TEST_F(PageSession, ASavedNameThatIsNoNickIsNotOffered) {
    // The SA-MP client takes any name; the page only gets one it would accept.
    put_samp_name(wide_to_narrow(L"Иван", CP_ACP));
    play(message(R"({"type":"ready"})") + "await \"init\"\nclose\n");
    ASSERT_EQ(run.events().size(), 1u);
    EXPECT_TRUE(contains(run.events()[0], R"("nick":"",)"));
}

TEST_F(PageSession, OnlyTheExactPrefixAtTheStartMakesAMessage) {
    play("console __launcher__:\n"
         "console __LAUNCHER__:{\"type\":\"exit\"}\n"
         "console  __launcher__:{\"type\":\"exit\"}\n"
         "console __launcher__{\"type\":\"exit\"}\n"
         "console Загрузка страницы\n"
         "close\n");
    std::vector<std::string> answers;
    for (const std::string& line : run.report_lines("console\t")) answers.push_back(unescape(line));
    EXPECT_EQ(answers,
              (std::vector<std::string>{"__launcher__:\t-> 1",
                                        "__LAUNCHER__:{\"type\":\"exit\"}\t-> 0",
                                        " __launcher__:{\"type\":\"exit\"}\t-> 0",
                                        "__launcher__{\"type\":\"exit\"}\t-> 0",
                                        "Загрузка страницы\t-> 0"}));
    EXPECT_TRUE(logged("page: unknown message "));
    EXPECT_TRUE(logged("console: __LAUNCHER__:{\"type\":\"exit\"} (http://ui/assets/index.js:1)"));
    // The page's own text reaches the log as the page wrote it.
    EXPECT_TRUE(logged("console: Загрузка страницы (http://ui/assets/index.js:1)"));
}

TEST_F(PageSession, ANickIsCheckedAndAnswersWithTheProposedFolder) {
    // Saved on a drive that is gone since: every figure of the answer is certain.
    const DWORD drives = GetLogicalDrives();
    char letter = 'Z';
    while (letter > 'C' && (drives & (1u << (letter - 'A')))) --letter;
    ASSERT_FALSE(drives & (1u << (letter - 'A'))) << "every drive letter is taken";
    const std::string saved = std::string(1, letter) + ":\\Games\\KORVAL";
    session.game_dir = saved;
    play(nick_message("x") + nick_message("Ivan", "eu") +
         message(R"({"type":"nick","nick":"Ivan_Pe)") +  // cut off mid-message
         message(R"({"type":"teleport"})") + nick_message("Ivan_Petrov", "test") +
         "await installDir\nclose\n");
    EXPECT_TRUE(logged("!! page sent invalid nick 'x'"));
    EXPECT_TRUE(logged("!! page sent unknown server id 'eu'"));
    EXPECT_TRUE(logged("!! page sent invalid nick ''"));
    EXPECT_TRUE(logged(R"(page: unknown message {"type":"teleport"})"));
    EXPECT_TRUE(logged("nick Ivan_Petrov, server 203.0.113.10:7778"));
    const std::vector<std::string> events = run.events();
    ASSERT_EQ(events.size(), 1u) << "refused messages get no answer";
    EXPECT_EQ(events[0], R"({"type":"installDir","path":)" + json_quote(saved) +
                             R"(,"freeBytes":0,"needBytes":10000000000,"error":"Диск недоступен.","gamePresent":false})");
    EXPECT_EQ(session.candidate.path, saved);
    EXPECT_EQ(session.server_address, "203.0.113.10:7778");
}

TEST_F(PageSession, HugeAndHostileMessagesAreBoundedInTheLog) {
    const std::string huge(100000, 'A');
    play(nick_message(huge) + message(R"({"type":"link","name":")" + huge + R"("})") +
         message("{\"type\":\"nick\",\"nick\":\"Iv\xff\xfen\",\"serverId\":\"main\"}") +
         message(R"({"type":"nick","nick":"Iv\u0061n","serverId":"main"})") +
         "await installDir\nclose\n");
    for (const std::string& line : run.log()) EXPECT_LE(line.size(), 2048u);
    EXPECT_TRUE(logged("nick Ivan, server 203.0.113.10:7777")) << "\\u escapes decode";
    EXPECT_TRUE(file_exists(run.dir().file(L"korval_launcher.log")));
}

TEST_F(PageSession, InstallCreatesTheFolderSavesItAndEndsInTheGame) {
    publish_game({{"samp.exe", pattern_bytes(3000, 1)}, {"gta_sa.exe", pattern_bytes(5000, 2)}});
    session.no_game = true;
    // A second install while the job runs is ignored.
    play(message(R"({"type":"ready"})") + nick_message("Ivan_Petrov") + "await installDir\n" +
             message(R"({"type":"install"})") + message(R"({"type":"install"})") +
             nick_message("Petr_Ivanov") + "await launching\n",
         60000);
    EXPECT_TRUE(file_exists(game_dir + L"\\gta_sa.exe"));
    EXPECT_EQ(read_game_dir_setting(), session.game_dir);
    EXPECT_EQ(utf8_to_wide(session.game_dir, CP_ACP), game_dir);
    EXPECT_EQ(requests_for("/pc/manifest.json"), 1);
    EXPECT_EQ(session.nick, "Ivan_Petrov") << "a nick while busy is ignored";
    EXPECT_TRUE(logged("install: game dir set to '" + session.game_dir + "'"));
    const std::vector<std::string> events = run.events();
    EXPECT_GE(events_of(events, "progress"), 1);
    EXPECT_EQ(events_of(events, "launching"), 1);
    EXPECT_EQ(events_of(events, "error"), 0);
    EXPECT_EQ(samp_value("PlayerName"), "Ivan_Petrov");
    EXPECT_TRUE(logged("game: --no-game, would run " + session.game_dir + "\\samp.exe " + MAIN +
                       " as Ivan_Petrov"));
    // The close timer took the window down without the scenario's help.
    EXPECT_FALSE(IsWindow(main_window));
}

TEST_F(PageSession, AFolderThatHoldsTheGameIsTakenAsItIs) {
    ASSERT_TRUE(CreateDirectoryW(game_dir.c_str(), nullptr));
    ASSERT_TRUE(write_file(game_dir + L"\\gta_sa.exe", "MZ"));
    ASSERT_TRUE(write_file(game_dir + L"\\samp.exe", "MZ"));
    publish_game({{"samp.exe", "MZ"}, {"gta_sa.exe", "MZ"}});
    session.no_game = true;
    play(nick_message("Ivan_Petrov") + "await installDir\n" + message(R"({"type":"install"})") +
             "await launching\n",
         60000);
    EXPECT_TRUE(session.installed);
    EXPECT_TRUE(logged("install: game dir set to '" + session.game_dir + "' (game already there)"));
}

TEST_F(PageSession, RetryRunsTheJobAgainAfterAFailure) {
    publish_game({{"samp.exe", pattern_bytes(100, 3)}, {"gta_sa.exe", pattern_bytes(100, 4)}});
    set_server_faults(R"({"/pc/manifest.json": {"status": 500, "times": 1}})");
    session.no_game = true;
    play(nick_message("Ivan_Petrov") + "await installDir\n" + message(R"({"type":"install"})") +
             "await \"error\"\n" + message(R"({"type":"retry"})") + "await launching\n",
         60000);
    const std::vector<std::string> events = run.events();
    EXPECT_EQ(events_of(events, "error"), 1);
    EXPECT_EQ(events_of(events, "launching"), 1);
    EXPECT_EQ(requests_for("/pc/manifest.json"), 2);
}

// The folder dialog, answered from a second thread as the user would: the
// folder typed into its name box and confirmed. The page's button clicked
// three times in a row opens one dialog; the other picks are ignored.
TEST_F(PageSession, PickDirOpensTheDialogAndAnswersWithThePickedFolder) {
    const std::wstring picked = games.file(L"Мои игры");
    ASSERT_TRUE(CreateDirectoryW(picked.c_str(), nullptr));
    ASSERT_TRUE(write_file(picked + L"\\other.txt", "x"));
    bool seen = false;
    size_t most_open = 0;
    std::thread user([&] {
        for (int i = 0; i < 200 && !seen; ++i) {
            if (!open_folder_dialogs().empty()) {
                seen = true;
                // Time for a second dialog to open over the first.
                Sleep(1000);
                std::vector<HWND> dialogs = open_folder_dialogs();
                most_open = dialogs.size();
                for (size_t k = 1; k < dialogs.size(); ++k)
                    PostMessageW(dialogs[k], WM_COMMAND, IDCANCEL, 0);
                if (!dialogs.empty()) {
                    SetDlgItemTextW(dialogs[0], 1152, picked.c_str());
                    PostMessageW(dialogs[0], WM_COMMAND, IDOK, 0);
                }
            }
            Sleep(50);
        }
        // Nor does an ignored pick open a dialog once the first has closed.
        for (int i = 0; i < 20; ++i) {
            for (HWND late : open_folder_dialogs()) {
                most_open = most_open < 2 ? 2 : most_open;
                PostMessageW(late, WM_COMMAND, IDCANCEL, 0);
            }
            Sleep(50);
        }
    });
    // The launcher's window thread is a single-threaded COM apartment.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const std::string pick = message(R"({"type":"pickDir"})");
    play(nick_message("Ivan_Petrov") + "await installDir\n" + pick + pick + pick +
         "await installDir\nwait 1500\nclose\n");
    user.join();
    CoUninitialize();
    ASSERT_TRUE(seen) << "no folder dialog";
    EXPECT_EQ(most_open, 1u) << "a second folder dialog opened";
    int ignored = 0;
    for (const std::string& line : run.log())
        ignored += contains(line, "install: folder dialog already open, further picks ignored");
    EXPECT_EQ(ignored, 1) << "logged once per open dialog";
    const std::vector<std::string> events = run.events();
    ASSERT_EQ(events.size(), 2u);
    const std::string expected = wide_to_narrow(picked + L"\\KORVAL");
    EXPECT_TRUE(contains(events[1], R"("path":)" + json_quote(expected))) << events[1];
    EXPECT_EQ(session.candidate.path, expected);
}

// A fresh system drive as strict as Windows' for a standard user (folders in
// its root, no files) with the most free space: the proposed folder lands
// there, passes its checks, is installed into and the game starts from it.
TEST_F(PageSession, TheDefaultFolderOnAStrictSystemDriveIsInstalledAndStarted) {
    const char* strict = std::getenv("KORVAL_TEST_STRICT_DRIVE");
    if (!strict || !*strict) GTEST_SKIP() << "no strict drive (mounting one needs root and FUSE)";
    const std::string folder = std::string(strict) + "\\Games\\KORVAL";
    const std::wstring wide_folder = utf8_to_wide(folder);
    const std::string samp = read_file(exe_dir() + L"\\samp_stub\\samp.exe");
    ASSERT_FALSE(samp.empty());
    const std::vector<GameFile> files = {{"samp.exe", samp},
                                         {"gta_sa.exe", pattern_bytes(5000, 2)},
                                         {"data/gta.dat", pattern_bytes(3000, 5)}};
    publish_game(files);
    session.game_dir.clear();
    play(nick_message("Ivan_Petrov") + "await installDir\n" + message(R"({"type":"install"})") +
             "await launching\n",
         60000);
    const std::vector<std::string> events = run.events();
    ASSERT_FALSE(events.empty());
    EXPECT_TRUE(contains(events[0], R"({"type":"installDir","path":)" + json_quote(folder) + ","))
        << events[0];
    EXPECT_TRUE(contains(events[0], R"(,"error":"",)")) << events[0];
    EXPECT_EQ(events_of(events, "error"), 0);
    EXPECT_EQ(events_of(events, "launching"), 1);
    EXPECT_EQ(session.game_dir, folder);
    EXPECT_EQ(read_game_dir_setting(), folder);
    for (const GameFile& file : files) {
        std::wstring local = wide_folder + L"\\" + utf8_to_wide(file.path);
        for (wchar_t& c : local) c = c == L'/' ? L'\\' : c;
        EXPECT_EQ(read_file(local), file.content) << file.path;
        EXPECT_FALSE(file_exists(local + L".part")) << file.path;
    }
    const std::wstring record = wide_folder + L"\\samp_record.txt";
    for (int i = 0; i < 200 && !file_exists(record); ++i) Sleep(50);
    Sleep(100);
    const std::string text = read_file(record);
    EXPECT_TRUE(contains(text, "command_line\t\"" + folder + "\\samp.exe\" " + MAIN + "\r\n"))
        << text;
    EXPECT_TRUE(contains(text, "PlayerName\tIvan_Petrov\r\n")) << text;
    remove_tree(utf8_to_wide(std::string(strict) + "\\Games"));
}

// What the player's Windows gives back for a page's help: the clipboard,
// the log in a viewer (a Notepad window here, closed afterwards).
std::wstring clipboard_text() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return L"(clipboard busy)";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

int close_notepad_windows() {
    int closed = 0;
    for (int i = 0; i < 40; ++i) {
        HWND notepad = FindWindowW(L"Notepad", nullptr);
        if (notepad) {
            PostMessageW(notepad, WM_CLOSE, 0, 0);
            ++closed;
        } else if (closed > 0) {
            break;
        }
        Sleep(100);
    }
    return closed;
}

// The windows other programs opened for the player, found by a part of their title.
int close_windows_titled(const std::wstring& part) {
    std::pair<std::wstring, int> search{part, 0};
    for (int i = 0; i < 40 && search.second == 0; ++i) {
        EnumWindows(
            [](HWND window, LPARAM param) CALLBACK -> BOOL {
                auto* s = reinterpret_cast<std::pair<std::wstring, int>*>(param);
                wchar_t title[512] = {};
                GetWindowTextW(window, title, 512);
                if (window != main_window && std::wstring(title).find(s->first) != std::wstring::npos) {
                    PostMessageW(window, WM_CLOSE, 0, 0);
                    ++s->second;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.second == 0) Sleep(100);
    }
    return search.second;
}

TEST_F(PageSession, ExitClosesTheWindowAndTheHelpMessagesReachWindows) {
    session.engineering = true;
    ASSERT_TRUE(CreateDirectoryW(game_dir.c_str(), nullptr));
    play(message(R"({"type":"link","name":"forum"})") + message(R"({"type":"menu"})") +
             message(R"({"type":"openDir"})") +
             "await \"engineering\"\n" +
             message(R"({"type":"copy","text":"Ошибка загрузки\nобрыв (12030) \"x\""})") +
             message(R"({"type":"openLog"})") + message(R"({"type":"exit"})"),
         20000);
    EXPECT_TRUE(logged("link forum: not configured"));
    EXPECT_FALSE(run.overdue()) << "exit closed the window itself";
    EXPECT_EQ(clipboard_text(), L"Ошибка загрузки\nобрыв (12030) \"x\"");
    EXPECT_TRUE(logged("page: copied 33 characters"));
    // The launcher holds its log open for writing; the viewer gets a copy.
    // Wine's prefix has no viewer for text files: Notepad opens the copy.
    EXPECT_TRUE(logged("page: opened the log in Notepad (no viewer for text files)"));
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    // One encoding for the viewer: the log's ANSI lines (the Cyrillic game
    // folder) come as UTF-8, after a byte-order mark that Notepad goes by.
    const std::string copy = read_file(std::wstring(temp) + L"korval_launcher_log.txt");
    EXPECT_EQ(copy.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_TRUE(contains(copy, "page: copied 33 characters"));
    EXPECT_TRUE(contains(copy, "page: opened the game folder " + ansi_to_utf8(session.game_dir)))
        << copy;
    EXPECT_GE(close_notepad_windows(), 1);
    EXPECT_TRUE(logged("page: opened the game folder " + session.game_dir));
    EXPECT_GE(close_windows_titled(L"KORVAL"), 1) << "Explorer shows the game folder";
    const std::vector<std::string> events = run.events();
    ASSERT_EQ(events_of(events, "engineering"), 1);
    for (const std::string& e : events) {
        if (!contains(e, "\"engineering\"")) continue;
        EXPECT_TRUE(contains(e, R"("version":"0.1.4","installDir":)" +
                                    json_quote(ansi_to_utf8(session.game_dir)) +
                                    R"(,"contentServer":"https://)"))
            << e;
    }
}

// A download the player pauses, resumes, cancels and starts again: every
// new start continues the partial file with a range request, no word of a
// stopped job reaches the page, and the game starts with every file right.
TEST_F(PageSession, PauseResumeAndCancelKeepWhatIsDoneAndContinueIt) {
    const std::string big = pattern_bytes(300000, 7);
    publish_game({{"samp.exe", pattern_bytes(3000, 1)}, {"gta_sa.exe", big}});
    set_server_faults(R"({"/pc/files/gta_sa.exe": {"trickle": [8192, 40]}})");
    session.no_game = true;
    const std::string downloading = "await \"phase\":\"download\"\n";
    play(nick_message("Ivan_Petrov") + "await installDir\n" + message(R"({"type":"install"})") +
             downloading + message(R"({"type":"pause"})") + "await \"paused\"\nwait 400\n" +
             message(R"({"type":"pause"})") + message(R"({"type":"resume"})") + downloading +
             message(R"({"type":"cancel"})") + "await \"cancelled\"\n" +
             nick_message("Ivan_Petrov") + "await installDir\n" +
             message(R"({"type":"install"})") + "await launching\n",
         60000);
    EXPECT_EQ(read_file(game_dir + L"\\gta_sa.exe"), big);
    EXPECT_FALSE(file_exists(game_dir + L"\\gta_sa.exe.part"));
    std::vector<std::string> ranges;
    for (const SeenRequest& r : seen_requests())
        if (r.path == "/pc/files/gta_sa.exe") ranges.push_back(r.range);
    std::string seen;
    for (const std::string& r : ranges) seen += "[" + r + "]";
    ASSERT_EQ(ranges.size(), 3u) << seen;
    EXPECT_EQ(ranges[0], "");
    for (size_t i : {1u, 2u}) {
        EXPECT_EQ(ranges[i].rfind("bytes=", 0), 0u) << ranges[i];
        EXPECT_GT(std::atoll(ranges[i].c_str() + 6), 0) << ranges[i];
    }
    // The pause took effect at once, not at the end of a 256 KiB read.
    EXPECT_LT(std::atoll(ranges[1].c_str() + 6), 200000) << ranges[1];
    EXPECT_EQ(requests_for("/pc/files/samp.exe"), 1) << "a file done before the pause is trusted";
    EXPECT_TRUE(logged("download: paused by the player"));
    EXPECT_TRUE(logged("download: resumed by the player"));
    EXPECT_TRUE(logged("download: cancelled by the player"));
    const std::vector<std::string> events = run.events();
    EXPECT_EQ(events_of(events, "paused"), 1) << "a second pause is ignored";
    EXPECT_EQ(events_of(events, "cancelled"), 1);
    EXPECT_EQ(events_of(events, "error"), 0);
    EXPECT_EQ(events_of(events, "launching"), 1);
    for (size_t i = 0; i + 1 < events.size(); ++i) {
        if (contains(events[i], R"("type":"paused")")) {
            EXPECT_TRUE(contains(events[i + 1], R"("phase":"manifest")")) << events[i + 1];
        }
        if (contains(events[i], R"("type":"cancelled")")) {
            EXPECT_TRUE(contains(events[i + 1], R"("type":"installDir")")) << events[i + 1];
        }
    }
}

// The close box (SC_CLOSE) during a download: the page asks, and a second
// close while the question is out closes, so a page that cannot answer
// never holds the window.
TEST_F(PageSession, TheCloseBoxAsksDuringADownloadAndASecondCloseCloses) {
    publish_game({{"samp.exe", pattern_bytes(3000, 1)}, {"gta_sa.exe", pattern_bytes(300000, 2)}});
    set_server_faults(R"({"/pc/files/gta_sa.exe": {"trickle": [8192, 40]}})");
    session.no_game = true;
    play(nick_message("Ivan_Petrov") + "await installDir\n" + message(R"({"type":"install"})") +
             "await \"phase\":\"download\"\npost 274 61536\nawait closeQuestion\n"
             "post 274 61536\n",
         30000);
    EXPECT_FALSE(IsWindow(main_window));
    EXPECT_TRUE(logged("window: close during the download, the page asks"));
    EXPECT_TRUE(logged("window: closed again while asked, closing"));
    EXPECT_EQ(events_of(run.events(), "closeQuestion"), 1);
    EXPECT_FALSE(file_exists(game_dir + L"\\gta_sa.exe")) << "never a final file unfinished";
}

// The player's check of an installed game trusts no index: a file damaged
// behind the index's back (same size, same time) is found and fetched again,
// and the check starts no game.
TEST_F(PageSession, CheckingTheFilesFindsADamagedFileTheIndexTrusts) {
    const std::string gta = pattern_bytes(50000, 2);
    publish_game({{"samp.exe", pattern_bytes(3000, 1)}, {"gta_sa.exe", gta}});
    {
        JobWindow first;
        GameFilesRequest request;
        request.install_dir = session.game_dir;
        request.window = first.hwnd();
        ASSERT_TRUE(CreateDirectoryW(game_dir.c_str(), nullptr));
        begin_game_files_job(request);
        ASSERT_TRUE(first.pump_until_end());
        ASSERT_EQ(first.start_game, 1);
        stop_game_files_job();
    }
    const std::wstring damaged = game_dir + L"\\gta_sa.exe";
    const uint64_t time = file_time(damaged);
    ASSERT_TRUE(write_file(damaged, pattern_bytes(50000, 9)));
    ASSERT_TRUE(set_file_time(damaged, time));
    session.installed = true;
    clear_server_requests();
    play(message(R"({"type":"ready"})") + message(R"({"type":"verify"})") +
             message(R"({"type":"verify"})") + "await filesChecked\nclose\n",
         30000);
    EXPECT_EQ(read_file(damaged), gta);
    EXPECT_EQ(requests_for("/pc/files/gta_sa.exe"), 1);
    EXPECT_EQ(requests_for("/pc/files/samp.exe"), 0);
    const std::vector<std::string> events = run.events();
    EXPECT_EQ(events_of(events, "launching"), 0);
    EXPECT_EQ(events.back(), R"({"type":"filesChecked","filesChecked":2,"filesRepaired":1})");
    EXPECT_TRUE(logged("install: every game file checked, 1 of 2 downloaded again"));
    EXPECT_FALSE(session.busy);
    EXPECT_EQ(samp_value("PlayerName"), "(no key)");
}

// The game start itself (WM_START_GAME), with the SA-MP stand-in as samp.exe.
class GameLaunch : public PageSession {
protected:
    std::wstring record = game_dir + L"\\samp_record.txt";

    void SetUp() override {
        PageSession::SetUp();
        ASSERT_TRUE(CreateDirectoryW(game_dir.c_str(), nullptr));
        session.nick = "Ivan_Petrov";
        session.busy = true;
    }
    std::string launch_scenario() const {
        return "post 32770\nawait_for 10000 \"type\"\n";
    }
    std::string wait_for_record() const {
        for (int i = 0; i < 200 && !file_exists(record); ++i) Sleep(50);
        Sleep(100);
        return read_file(record);
    }
};

TEST_F(GameLaunch, StartsSampInTheGameFolderWithTheServerAndTheNick) {
    ASSERT_TRUE(CopyFileW((exe_dir() + L"\\samp_stub\\samp.exe").c_str(),
                          (game_dir + L"\\samp.exe").c_str(), FALSE));
    // A second WM_START_GAME (before the close timer fired) runs the whole step again.
    play(launch_scenario() + launch_scenario());
    const std::string ansi_dir = session.game_dir;
    const std::string text = wait_for_record();
    EXPECT_TRUE(contains(text, "command_line\t\"" + ansi_dir + "\\samp.exe\" " + MAIN + "\r\n"))
        << text;
    EXPECT_TRUE(contains(text, "current_dir\t" + ansi_dir + "\r\n")) << text;
    EXPECT_TRUE(contains(text, "PlayerName\tIvan_Petrov\r\n")) << text;
    EXPECT_TRUE(contains(text, "gta_sa_exe\t" + ansi_dir + "\\gta_sa.exe\r\n")) << text;
    EXPECT_EQ(occurrences(text, "command_line\t"), 2) << text;
    EXPECT_EQ(run.events(), (std::vector<std::string>(2, R"({"type":"launching"})")));
    EXPECT_FALSE(session.busy);
    EXPECT_TRUE(logged("game: started \"" + ansi_dir + "\\samp.exe\" " + MAIN + " as Ivan_Petrov"));
    EXPECT_FALSE(IsWindow(main_window)) << "the launcher closes after the start";
}

TEST_F(GameLaunch, AMissingSampIsReportedAndTheWindowStays) {
    play(launch_scenario() + "close\n");
    EXPECT_TRUE(logged("!! " + session.game_dir + "\\samp.exe not found"));
    ASSERT_EQ(run.events().size(), 1u);
    EXPECT_EQ(run.events()[0], R"({"type":"error","title":"Игра не найдена","message":)" +
                                   json_quote("Нет файла samp.exe в папке " +
                                              wide_to_narrow(game_dir) + ".") +
                                   "}");
    EXPECT_FALSE(session.busy) << "the page may try again";
    EXPECT_EQ(samp_value("PlayerName"), "Ivan_Petrov") << "written before the test for samp.exe";
}

TEST_F(GameLaunch, AFileThatIsNoProgramFailsEveryTryWithTheSystemsCode) {
    ASSERT_TRUE(write_file(game_dir + L"\\samp.exe", "not a program"));
    play(launch_scenario() + launch_scenario() + "close\n");
    const std::vector<std::string> events = run.events();
    ASSERT_EQ(events.size(), 4u);
    for (size_t i : {0u, 2u}) EXPECT_EQ(events[i], R"({"type":"launching"})");
    for (size_t i : {1u, 3u})
        EXPECT_EQ(events[i], R"({"type":"error","title":"Не удалось запустить игру",)"
                             R"("message":"Ошибка запуска samp.exe (193).","code":193})");
    EXPECT_TRUE(logged("!! CreateProcess(\"" + session.game_dir + "\\samp.exe\" " + MAIN +
                       ") failed: 193"));
}

}  // namespace
