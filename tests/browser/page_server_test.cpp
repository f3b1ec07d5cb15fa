// The page server behind the stand-in's requests, in a program that carries
// the real page archive as resource 101, as the launcher does.
#include <gtest/gtest.h>

#include <map>

#include "launcher/browser/browser_runtime.h"
#include "launcher/browser/cef_api.h"
#include "launcher/browser/ui_resource_handler.h"
#include "launcher/browser/zip_reader.h"
#include "stub_harness.h"

namespace {

std::string archive_entry(const std::string& archive, const char* name) {
    mz_zip_archive zip{};
    if (!mz_zip_reader_init_mem(&zip, archive.data(), archive.size(), 0)) return {};
    size_t size = 0;
    void* block = mz_zip_reader_extract_file_to_heap(&zip, name, &size, 0);
    std::string out = block ? std::string(static_cast<const char*>(block), size) : "";
    mz_free(block);
    mz_zip_reader_end(&zip);
    return out;
}

std::string page_archive() { return read_file(exe_dir() + L"\\..\\ui.zip"); }

}  // namespace

TEST(PageArchive, IsResource101OfTheLauncher) {
    std::string archive = page_archive();
    ASSERT_FALSE(archive.empty());
    HMODULE launcher = LoadLibraryExW((exe_dir() + L"\\korval_launcher.exe").c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(launcher, nullptr);
    uint32_t size = 0;
    const unsigned char* data = find_page_archive(launcher, size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), archive);
    FreeLibrary(launcher);
}

TEST(PageServer, AWindowShowsTheRealPageAndEveryAddressGetsItsAnswer) {
    const std::string archive = page_archive();
    const std::string index = archive_entry(archive, "index.html");
    ASSERT_NE(index.find("<html"), std::string::npos);
    ASSERT_GT(index.size(), 100u);

    StubRun run;
    run.write_scenario(
        "fetch http://ui/\n"
        "fetch http://ui/?lang=ru\n"
        "fetch http://ui/#/launcher\n"
        "fetch http://ui/INDEX.HTML\n"
        "fetch http://ui/favicon.svg\n"
        "fetch http://ui/assets/\n"
        "fetch http://ui/assets/../index.html\n"
        "fetch http://ui/..\n"
        "fetch http://ui/assets\\index.html\n"
        "fetch https://ui/index.html\n"
        "fetch http://ui\n"
        "fetch http://uix/index.html\n"
        "fetch http://ui/missing.png\n"
        "fetch_from 100 http://ui/index.html\n"
        "fetch_from 1000000 http://ui/index.html\n"
        "fetch_from -5 http://ui/index.html\n"
        "fetch_from 4294967396 http://ui/index.html\n"
        "close\n");
    ASSERT_TRUE(run.init());
    run.host_browser(true);

    std::vector<FetchRecord> f = run.fetches();
    ASSERT_EQ(f.size(), 18u);
    // The start address first: after on_before_browse let it through.
    EXPECT_EQ(f[0].url, "http://ui/index.html#/launcher");
    for (int i : {0, 1, 2, 3, 4}) {
        SCOPED_TRACE(f[i].url);
        EXPECT_EQ(f[i].status, 200);
        EXPECT_EQ(f[i].mime_type, "text/html");
        EXPECT_EQ(f[i].body, index);
        EXPECT_EQ(f[i].length, static_cast<long long>(index.size()));
        EXPECT_EQ(f[i].flow, "open=1,1 skip=0,0 freed=1");
    }
    EXPECT_EQ(f[5].mime_type, "image/svg+xml");
    EXPECT_EQ(f[5].body, archive_entry(archive, "favicon.svg"));
    for (int i = 6; i <= 13; ++i) {
        SCOPED_TRACE(f[i].url);
        // A folder and a missing file: 404; climbing, backslashes and other
        // addresses: 400. Every refusal still completes the request.
        EXPECT_EQ(f[i].status, i == 6 || i == 13 ? 404 : 400);
        EXPECT_EQ(f[i].mime_type, "text/plain");
        EXPECT_EQ(f[i].body, "not found");
        EXPECT_EQ(f[i].length, 9);
        EXPECT_EQ(f[i].flow, "open=1,1 skip=0,0 freed=1");
    }
    // Partial reads: skipping within, past and before the body.
    EXPECT_EQ(f[14].flow, "open=1,1 skip=1,100 freed=1");
    EXPECT_EQ(f[14].body, index.substr(100));
    EXPECT_EQ(f[15].flow, "open=1,1 skip=1," + std::to_string(index.size()) + " freed=1");
    EXPECT_EQ(f[15].body, "");
    EXPECT_EQ(f[16].flow, "open=1,1 skip=0,0 freed=1");
    EXPECT_EQ(f[16].body, index);
    // 2^32 + 100: the whole count, not its low 32 bits, decides.
    EXPECT_EQ(f[17].flow, f[15].flow);
    EXPECT_EQ(f[17].body, "");

    std::vector<std::string> log = run.log();
    EXPECT_TRUE(contains(log, "ui: embedded zip " + std::to_string(archive.size()) + " bytes"));
    std::vector<std::string> not_found;
    for (const std::string& line : log)
        if (line.rfind("ui: 404 ", 0) == 0) not_found.push_back(line);
    EXPECT_EQ(not_found, (std::vector<std::string>{"ui: 404 http://ui/assets/",
                                                   "ui: 404 http://ui/missing.png"}));

    // Nothing is left behind: handlers, texts (but the settings' seven) and
    // references to the runtime's objects.
    EXPECT_EQ(live_ui_resource_handlers(), 0);
    cef_api.shutdown();
    EXPECT_EQ(run.report_lines("shutdown "),
              std::vector<std::string>{"texts=7 userfree=0 references=0"});
}

TEST(PageServer, TheOverrideFolderWinsUntilItsFileIsGone) {
    StubRun run;
    std::wstring ui = run.dir().file(L"KORVAL\\ui");
    CreateDirectoryW(run.dir().file(L"KORVAL").c_str(), nullptr);
    CreateDirectoryW(ui.c_str(), nullptr);
    CreateDirectoryW((ui + L"\\assets").c_str(), nullptr);
    ASSERT_TRUE(write_file(ui + L"\\index.html", "<p>override</p>"));
    ASSERT_TRUE(write_file(ui + L"\\assets\\LOGO.PNG", std::string("\x89PNG\0\r\n", 7)));
    ASSERT_TRUE(write_file(ui + L"\\empty.json", ""));
    ASSERT_TRUE(write_file(ui + L"\\notes", "plain"));
    run.write_scenario(
        "fetch http://ui/assets/LOGO.PNG\n"
        "fetch http://ui/empty.json\n"
        "fetch http://ui/notes\n"
        "remove KORVAL\\ui\\index.html\n"
        "fetch http://ui/index.html\n"
        "close\n");
    ASSERT_TRUE(run.init());
    run.host_browser();

    std::vector<FetchRecord> f = run.fetches();
    ASSERT_EQ(f.size(), 5u);
    EXPECT_EQ(f[0].body, "<p>override</p>");
    EXPECT_EQ(f[0].mime_type, "text/html");
    EXPECT_EQ(f[1].mime_type, "image/png");
    EXPECT_EQ(f[1].body, std::string("\x89PNG\0\r\n", 7));
    EXPECT_EQ(f[2].status, 200);
    EXPECT_EQ(f[2].mime_type, "application/json");
    EXPECT_EQ(f[2].body, "");
    EXPECT_EQ(f[3].mime_type, "application/octet-stream");
    EXPECT_EQ(f[4].status, 200);
    EXPECT_EQ(f[4].body, archive_entry(page_archive(), "index.html"));
}

TEST(PageServer, DeviceNamesAndStreamsInTheOverrideFolderAreNotFound) {
    StubRun run;
    std::wstring ui = run.dir().file(L"KORVAL\\ui");
    CreateDirectoryW(run.dir().file(L"KORVAL").c_str(), nullptr);
    CreateDirectoryW(ui.c_str(), nullptr);
    ASSERT_TRUE(write_file(ui + L"\\console.js", "real"));
    const std::vector<std::string> devices = {
        "http://ui/NUL",     "http://ui/con",          "http://ui/assets/COM1.js",
        "http://ui/aux.html", "http://ui/lpt9",        "http://ui/CONIN$",
        "http://ui/nul /x",  "http://ui/console.js:x", "http://ui/prn.tar.gz"};
    std::string scenario;
    for (const std::string& url : devices) scenario += "fetch " + url + "\n";
    run.write_scenario(scenario + "fetch http://ui/console.js\nclose\n");
    ASSERT_TRUE(run.init());
    run.host_browser();

    std::map<std::string, FetchRecord> by_url;
    for (const FetchRecord& f : run.fetches()) by_url[f.url] = f;
    for (const std::string& url : devices) {
        ASSERT_TRUE(by_url.count(url)) << url;
        EXPECT_EQ(by_url[url].status, 404) << url;
    }
    // A name that only begins like a device is an ordinary file.
    EXPECT_EQ(by_url["http://ui/console.js"].status, 200);
    EXPECT_EQ(by_url["http://ui/console.js"].body, "real");
}
