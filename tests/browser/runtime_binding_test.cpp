// Loading, binding and starting the runtime, against the stand-in runtime in
// a launcher folder of each test's own. This program has no resource 101.
#include <gtest/gtest.h>

#include "launcher/session/text_convert.h"
#include "stub_harness.h"

namespace {

const char API_HASH_LINE[] =
    "libcef api hash a9fddb1f86f1fc427a6eee19a370dbedb14468cb (CEF_API_VERSION 14800)";

}  // namespace

TEST(RuntimeBinding, WithoutTheCefFolderLogsThePathAndCreatesNothing) {
    StubRun run("full", false);
    EXPECT_FALSE(run.init());
    // 126: the system's code for a module that cannot be found.
    EXPECT_EQ(run.log(), std::vector<std::string>{"!! LoadLibrary(" + run.app_dir_ansi() +
                                                  "\\cef\\libcef.dll) failed: 126"});
    EXPECT_FALSE(file_exists(run.dir().file(L"KORVAL")));
}

TEST(RuntimeBinding, NamesTheFirstMissingFunctionInTableOrder) {
    // This library lacks #4, #9 and the sub-process entry.
    StubRun run("lacking");
    EXPECT_FALSE(run.init());
    EXPECT_EQ(run.log(),
              std::vector<std::string>{"!! libcef has no cef_register_scheme_handler_factory"});
    EXPECT_TRUE(run.report().empty());  // not a single call into the runtime
    EXPECT_FALSE(file_exists(run.dir().file(L"KORVAL")));
}

TEST(RuntimeBinding, RefusedStartIsLoggedWithTheRuntimesOwnLog) {
    StubRun run;
    run.write_scenario("initialize fail\n");
    EXPECT_FALSE(run.init());
    EXPECT_EQ(run.log(), (std::vector<std::string>{
                             API_HASH_LINE, "!! cef_initialize failed \xE2\x80\x94 see " +
                                                run.app_dir_ansi() + "\\KORVAL\\launcher\\cef.log"}));
    EXPECT_TRUE(run.report_lines("register_scheme").empty());
}

TEST(RuntimeBinding, StartsWithTheLaunchersSettingsAndRegistersThePages) {
    StubRun run;
    ASSERT_TRUE(run.init());
    EXPECT_EQ(run.log(), (std::vector<std::string>{API_HASH_LINE, "ui: embedded zip 0 bytes"}));
    EXPECT_TRUE(file_exists(run.dir().file(L"KORVAL\\launcher")));

    std::vector<std::string> report;
    for (const std::string& line : run.report()) report.push_back(unescape(line));
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report.front(), "api_hash 14800 0");  // before any other call
    // The folder reaches the runtime as text: ANSI in the launcher, UTF-8 here.
    const std::string app = ansi_to_utf8(run.app_dir_ansi());
    ASSERT_NE(app, run.app_dir_ansi());
    for (const std::string& line : std::vector<std::string>{
             "initialize instance=1 app=1 sandbox=0",
             "settings.size " + abi_size(244, sizeof(cef_settings_t)),
             "settings.no_sandbox 1",
             "settings.browser_subprocess_path " + app + "\\cef\\korval.exe",
             "settings.resources_dir_path " + app + "\\cef",
             "settings.locales_dir_path " + app + "\\cef\\locales",
             "settings.root_cache_path " + app + "\\KORVAL\\launcher",
             "settings.cache_path " + app + "\\KORVAL\\launcher\\default",
             "settings.locale ru",
             "settings.log_file " + app + "\\KORVAL\\launcher\\cef.log",
             "settings.log_severity 3",
             "settings.remote_debugging_port 0",
             "settings.background_color 0xff050505",
             "settings.multi_threaded_message_loop 0",
             "settings.external_message_pump 0",
             "settings.unlisted_nonzero none",
             "initialize -> 1",
             "register_scheme http ui size=" + abi_size(24, sizeof(cef_scheme_handler_factory_t)),
         })
        EXPECT_TRUE(contains(report, line)) << line;

    // The same two switches, in order, for every kind of process.
    EXPECT_EQ(run.report_lines("switch "),
              (std::vector<std::string>{
                  "browser disable-gpu", "browser disable-gpu-compositing",
                  "renderer disable-gpu", "renderer disable-gpu-compositing",
                  "gpu-process disable-gpu", "gpu-process disable-gpu-compositing",
                  "utility disable-gpu", "utility disable-gpu-compositing"}));
    for (const std::string& line : report) EXPECT_NE(line.rfind("!! ", 0), 0u) << line;
}

TEST(RuntimeBinding, OpensRemoteDebuggingOnlyForDevelopers) {
    StubRun run("full", true, true);
    ASSERT_TRUE(run.init());
    EXPECT_EQ(run.report_lines("settings.remote_debugging_port "),
              std::vector<std::string>{"9224"});
}

TEST(RuntimeBinding, ServesPagesFromTheFallBackArchiveBesideTheLauncher) {
    StubRun run;
    CreateDirectoryW(run.dir().file(L"KORVAL").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((exe_dir() + L"\\zip_fixtures\\python.zip").c_str(),
                          run.dir().file(L"KORVAL\\ui.zip").c_str(), FALSE));
    run.write_scenario(
        "fetch http://ui/notes/long.txt\n"
        "fetch http://ui/hello.txt?v=2\n"
        "remove KORVAL\\ui.zip\n"
        "fetch http://ui/hello.txt\n"
        "close\n");
    ASSERT_TRUE(run.init());
    run.host_browser();

    std::vector<FetchRecord> f = run.fetches();
    ASSERT_EQ(f.size(), 4u);
    // The start page is not in this archive.
    EXPECT_EQ(f[0].url, "http://ui/index.html#/launcher");
    EXPECT_EQ(f[0].status, 404);
    EXPECT_EQ(f[1].status, 200);
    EXPECT_EQ(f[1].mime_type, "application/octet-stream");
    EXPECT_EQ(f[1].body.size(), 18890u);  // "line 0\n" ... "line 1999\n", deflated
    EXPECT_EQ(f[1].body.substr(0, 14), "line 0\nline 1\n");
    EXPECT_EQ(f[2].body, "Hello, archive!\n");
    EXPECT_EQ(f[3].status, 404);  // the archive is gone
    EXPECT_EQ(f[3].body, "not found");
    std::vector<std::string> log = run.log();
    EXPECT_TRUE(contains(log, "ui: embedded zip 0 bytes"));
    EXPECT_TRUE(contains(log, "ui: 404 http://ui/index.html#/launcher"));
    EXPECT_TRUE(contains(log, "ui: 404 http://ui/hello.txt"));
}
