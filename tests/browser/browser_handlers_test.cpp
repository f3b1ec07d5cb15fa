// The browser's callbacks and the page bridge, driven by the stand-in's
// scenarios in a real window.
#include <gtest/gtest.h>

#include <algorithm>

#include "launcher/browser/browser_client.h"
#include "launcher/browser/page_bridge.h"
#include "stub_harness.h"

namespace {

size_t index_of(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
}

}  // namespace

TEST(BrowserHandlers, AllowListFocusAndCloseInTheRuntimesOrder) {
    StubRun run;
    run.write_scenario(
        "navigate http://ui/assets/index.js\n"
        "navigate http://ui\n"
        "navigate HTTP://UI/index.html\n"
        "navigate https://ui/index.html\n"
        "navigate devtools://devtools/bundled/inspector.html\n"
        "navigate devtools:\n"
        "navigate https://example.com/?q=1\n"
        "context_menu\n"
        "focus\n"
        "devtools_open\n"
        "devtools_close\n"
        "close\n");
    ASSERT_TRUE(run.init());
    run.host_browser();

    EXPECT_EQ(run.report_lines("navigate\t"),
              (std::vector<std::string>{
                  "http://ui/index.html#/launcher\t-> 0", "http://ui/assets/index.js\t-> 0",
                  "http://ui\t-> 1", "HTTP://UI/index.html\t-> 1", "https://ui/index.html\t-> 1",
                  "devtools://devtools/bundled/inspector.html\t-> 0", "devtools:\t-> 0",
                  "https://example.com/?q=1\t-> 1"}));
    std::vector<std::string> log = run.log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "browser created"), 1);
    for (const char* url : {"http://ui", "HTTP://UI/index.html", "https://ui/index.html",
                            "https://example.com/?q=1"})
        EXPECT_TRUE(contains(log, std::string("navigation blocked: ") + url)) << url;
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) { return l.rfind("navigation", 0) == 0; }),
              4);

    // Without --dev the menu is emptied.
    EXPECT_EQ(run.report_lines("context_menu "), std::vector<std::string>{"3 -> 0"});
    EXPECT_EQ(run.report_lines("set_focus "), std::vector<std::string>{"1"});

    // Developer tools closing is not the page closing; the page's browser
    // then closes in the runtime's order, and every reference comes back.
    std::vector<std::string> r = run.report();
    size_t close_window = index_of(r, "close window");
    ASSERT_LT(close_window, r.size());
    EXPECT_EQ(std::vector<std::string>(r.begin() + close_window, r.end()),
              (std::vector<std::string>{"close window", "close_browser 1", "do_close -> 0",
                                        "wm_close to the top-level window", "quit_message_loop",
                                        "browser window destroyed", "on_before_close 1",
                                        "run_message_loop end"}));
    EXPECT_EQ(current_browser, nullptr);
    EXPECT_TRUE(contains(r, "on_before_close 2"));
    EXPECT_TRUE(contains(r, "window_info.style 0x56010000"));
    EXPECT_TRUE(contains(r, "window_info.bounds 0 0 1280 591"));
    EXPECT_TRUE(contains(r, "window_info.parent window"));
    EXPECT_TRUE(contains(r, "window_info.runtime_style 2"));
    EXPECT_TRUE(contains(r, "window_info.size " + abi_size(68, sizeof(cef_window_info_t))));
    EXPECT_TRUE(contains(r, "window_info.unlisted_nonzero none"));
    EXPECT_TRUE(contains(r, "browser_settings.size " +
                            abi_size(168, sizeof(cef_browser_settings_t))));
    EXPECT_TRUE(contains(r, "browser_settings.background_color 0xff050505"));
    EXPECT_TRUE(contains(r, "browser_settings.unlisted_nonzero none"));
    for (const std::string& line :
         {"client size=" + abi_size(96, sizeof(cef_client_t)),
          "context_menu size=" + abi_size(48, sizeof(cef_context_menu_handler_t)),
          "display size=" + abi_size(72, sizeof(cef_display_handler_t)),
          "life_span size=" + abi_size(44, sizeof(cef_life_span_handler_t)),
          "request size=" + abi_size(64, sizeof(cef_request_handler_t))})
        EXPECT_TRUE(contains(run.report_lines("handler "), line)) << line;
    for (const std::string& line : r) EXPECT_NE(line.rfind("!! ", 0), 0u) << line;
}

TEST(BrowserHandlers, DevelopersKeepTheContextMenuAndABrowserThatGoesClosesTheWindow) {
    StubRun run("full", true, true);
    run.write_scenario("context_menu\nbrowser_gone\n");
    ASSERT_TRUE(run.init());
    run.host_browser();
    EXPECT_EQ(run.report_lines("context_menu "), std::vector<std::string>{"3 -> 3"});
    // on_before_close posts the WM_CLOSE that, with no browser left, destroys
    // the window; nothing asks the gone browser to close.
    EXPECT_TRUE(run.report_lines("close_browser").empty());
    EXPECT_TRUE(contains(run.report(), "run_message_loop end"));
    EXPECT_EQ(current_browser, nullptr);
}

TEST(BrowserHandlers, RefusedBrowserLeavesTheWindowEmpty) {
    StubRun run;
    run.write_scenario("create_browser fail\n");
    ASSERT_TRUE(run.init());
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr,
                                  nullptr, nullptr, nullptr);
    main_window = window;
    create_browser_window();
    DestroyWindow(window);
    main_window = nullptr;
    EXPECT_TRUE(contains(run.log(), "!! create_browser failed"));
    EXPECT_TRUE(contains(run.report(), "create_browser -> 0"));
}
