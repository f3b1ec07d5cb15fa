// The game files job end to end: fresh installs, later runs that trust the
// index, and manifests the job must refuse.
#include <gtest/gtest.h>

#include "content_server_support.h"
#include "job_harness.h"
#include "launcher/download/download_events.h"
#include "launcher/download/file_index.h"
#include "launcher/net/sha256.h"
#include "scanner_support.h"
#include "test_release_keys.h"

namespace {

class Install : public JobFixtureBase, public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_available()); }

    // The index the job should have written for `files`, all verified.
    std::string expected_index(const std::vector<GameFile>& files) {
        std::string text;
        for (const GameFile& f : files)
            text += f.path + "\t" + std::to_string(f.content.size()) + "\t" +
                    std::to_string(file_time(local(f.path))) + "\t" + sha256_hex(f.content) +
                    "\n";
        return text;
    }

    void expect_installed(const std::vector<GameFile>& files) {
        for (const GameFile& f : files) {
            EXPECT_EQ(read_file(local(f.path)), f.content) << f.path;
            EXPECT_FALSE(file_exists(local(f.path) + L".part")) << f.path;
        }
    }
};

std::vector<GameFile> game_like_set() {
    std::vector<GameFile> files;
    for (unsigned i = 0; i < 300; ++i) {
        char path[64];
        std::snprintf(path, sizeof path, "data/d%02u/f%03u.dat", i % 17, i);
        files.push_back({path, pattern_bytes(1 + (i * 397) % 4096, i)});
    }
    files.push_back({"empty.txt", ""});
    files.push_back({"models/gta3.img", pattern_bytes(3 * 1048576 + 17, 1001)});
    files.push_back({"anim/anim.img", pattern_bytes(2 * 1048576, 1002)});
    files.push_back({"gta_sa.exe", pattern_bytes(1048576 + 5, 1003)});
    return files;
}

TEST_F(Install, FreshInstallThenEverythingTrusted) {
    const std::vector<GameFile> files = game_like_set();
    publish_game(files);

    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    EXPECT_FALSE(window.has_error());
    expect_installed(files);
    EXPECT_EQ(index_text(), expected_index(files));

    ASSERT_FALSE(window.events.empty());
    uint64_t total = 0;
    for (const GameFile& f : files) total += f.content.size();
    EXPECT_EQ(window.events.front(),
              progress_event_text("Проверка обновлений...", "Получение списка файлов", 0, true,
                                  ProgressFigures{"manifest"}));
    EXPECT_EQ(window.last_event(),
              progress_event_text("Проверка файлов", "Все файлы на месте", 100, false,
                                  ProgressFigures{"done", total, total, 304, 304}));
    EXPECT_EQ(window.count("Проверено"), 0);
    // Every download event carries its raw figures, and they only grow.
    uint64_t last_done = 0;
    for (const std::string& e : window.events) {
        if (!contains(e, "\"phase\":\"download\"")) continue;
        EXPECT_TRUE(contains(e, ",\"bytesTotal\":" + std::to_string(total) + ",")) << e;
        EXPECT_TRUE(contains(e, ",\"filesTotal\":304}")) << e;
        const uint64_t done = std::stoull(e.substr(e.find("\"bytesDone\":") + 12));
        EXPECT_GE(done, last_done) << e;
        last_done = done;
    }
    const std::string mb = format_megabytes(total);
    const std::string log = log_text();
    EXPECT_TRUE(contains(log, "download: manifest 304 files, " + mb + " MB\r\n")) << log;
    EXPECT_TRUE(contains(log, "download: 0 files ok, 304 to download (" + mb + " MB)\r\n"));
    EXPECT_TRUE(contains(log, "download: done, 304 files, " + mb + " MB downloaded\r\n"));
    EXPECT_FALSE(contains(log, "attempt")) << log;
    EXPECT_EQ(requests_for("/pc/files/models/gta3.img"), 1);

    // Second run: everything is vouched for by the index.
    clear_server_requests();
    const std::string index_before = index_text();
    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    ASSERT_EQ(window.events.size(), 2u);
    EXPECT_EQ(window.last_event(),
              progress_event_text("Проверка файлов", "Все файлы на месте", 100, false,
                                  ProgressFigures{"done"}));
    std::vector<SeenRequest> seen = seen_requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].path, "/pc/manifest.json");
    EXPECT_TRUE(contains(log_text(), "download: 304 files ok, 0 to download (0 MB)\r\n"));
    EXPECT_TRUE(contains(log_text(), "download: done, 0 files, 0 MB downloaded\r\n"));
    EXPECT_EQ(index_text(), index_before);
}

TEST_F(Install, LaterRunHashesOnlyDoubtfulFiles) {
    std::vector<GameFile> files;
    for (unsigned i = 0; i < 6; ++i)
        files.push_back({"f" + std::to_string(i) + ".bin", pattern_bytes(100000 + i * 1000, i)});
    publish_game(files);
    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();

    // f1: touched, same content. f2: deleted. f3: its index line carries an
    // older hash. f4: same size, other content, touched.
    const uint64_t touched = file_time(local("f1.bin")) + 10000000ull * 3600;
    ASSERT_TRUE(set_file_time(local("f1.bin"), touched));
    ASSERT_TRUE(DeleteFileW(local("f2.bin").c_str()));
    std::string index = index_text();
    const std::string f3_hash = sha256_hex(files[3].content);
    index.replace(index.find(f3_hash), 64, std::string(64, '0'));
    ASSERT_TRUE(write_file(index_path(), index));
    ASSERT_TRUE(write_file(local("f4.bin"), pattern_bytes(files[4].content.size(), 99)));

    clear_server_requests();
    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    expect_installed(files);
    EXPECT_EQ(index_text(), expected_index(files));
    EXPECT_EQ(file_time(local("f1.bin")), touched);

    // Two doubtful files: "0 of 2" and "1 of 2", never "2 of 2"; the percent
    // is the share of bytes hashed before the file being started.
    const uint64_t total = files[1].content.size() + files[4].content.size();
    EXPECT_EQ(window.count("Проверено"), 2);
    EXPECT_EQ(window.count(progress_event_text("Проверка файлов", "Проверено 0 из 2", 0, false,
                                               ProgressFigures{"check", 0, total, 0, 2})),
              1);
    EXPECT_EQ(window.count(progress_event_text(
                  "Проверка файлов", "Проверено 1 из 2",
                  static_cast<int>(files[1].content.size() * 100 / total), false,
                  ProgressFigures{"check", files[1].content.size(), total, 1, 2})),
              1);
    for (const char* path : {"/pc/files/f0.bin", "/pc/files/f1.bin", "/pc/files/f5.bin"})
        EXPECT_EQ(requests_for(path), 0) << path;
    for (const char* path : {"/pc/files/f2.bin", "/pc/files/f3.bin", "/pc/files/f4.bin"})
        EXPECT_EQ(requests_for(path), 1) << path;
    EXPECT_TRUE(contains(log_text(), "download: 3 files ok, 3 to download (0 MB)\r\n"));
}

// On players' PCs a real-time scanner holds each new file for a moment after
// it is written, so a move into place fails with a sharing violation at
// first. The install waits it out: every file lands, and the log says so.
TEST_F(Install, AScannerHoldingNewFilesDelaysButNeverBreaksTheInstall) {
    const std::vector<GameFile> files = {{"samp.exe", pattern_bytes(262144, 71)},
                                         {"gta_sa.exe", pattern_bytes(200000, 72)},
                                         {"data/a.dat", pattern_bytes(5000, 73)},
                                         {"data/b.dat", pattern_bytes(70000, 74)}};
    publish_game(files);
    // Long enough that the scanner surely has the partial file open while
    // it is written, and still holds it when it is complete.
    set_server_faults(R"({"/pc/files/samp.exe": {"trickle": [16384, 25]}})");
    // The folder is there, as after the page's "install".
    ASSERT_TRUE(CreateDirectoryW(game_dir.c_str(), nullptr));
    ScannerStandIn scanner({dir.path()}, 400);
    ASSERT_TRUE(scanner.running());

    run_job();
    const std::vector<std::string> held = scanner.stop();
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    EXPECT_FALSE(window.has_error());
    expect_installed(files);
    EXPECT_EQ(index_text(), expected_index(files));
    bool part_held = false;
    for (const std::string& path : held) part_held = part_held || contains(path, "samp.exe.part");
    EXPECT_TRUE(part_held) << "the scanner never had the partial file";
    const std::string log = log_text();
    EXPECT_TRUE(contains(log, "samp.exe.part: busy (32), retrying\r\n")) << log;
    EXPECT_TRUE(contains(log, "file: move ")) << log;
    EXPECT_TRUE(contains(log, "samp.exe.part: done after ")) << log;
    EXPECT_FALSE(contains(log, "!! ")) << log;
}

// With release keys, a manifest is used only with a signature by one of them,
// for that document, at a release no older than one already accepted.
// Anything else ends the job before a file is written, moved or started.
TEST_F(Install, OnlyASignedManifestOfACurrentReleaseIsInstalled) {
    TestReleaseKeys keys({KEY_B.public_hex, KEY_A.public_hex});
    SettingsKeyGuard settings;
    const std::vector<GameFile> files = {{"samp.exe", pattern_bytes(3000, 81)},
                                         {"gta_sa.exe", pattern_bytes(2000, 82)}};
    publish_game(files);
    const std::string manifest = manifest_for(files);
    const std::string refused = error_event_text(
        "Файлы не прошли проверку",
        "Файлы на сервере не прошли проверку подлинности, поэтому игра не будет обновлена и "
        "запущена. Сообщите администрации сервера и попробуйте позже.");
    auto expect_refused = [&](const std::string& why) {
        clear_server_requests();
        run_job();
        EXPECT_EQ(window.start_game, 0) << why;
        EXPECT_EQ(window.last_event(), refused) << why;
        EXPECT_TRUE(contains(log_text(), "!! download: manifest.json not verified: " + why))
            << log_text();
        EXPECT_FALSE(file_exists(game_dir)) << why << ": nothing written";
        for (const SeenRequest& r : seen_requests())
            EXPECT_TRUE(r.path == "/pc/manifest.json" || r.path == "/pc/manifest.json.sig")
                << r.path;
    };

    ASSERT_TRUE(put_server_file("/pc/manifest.json.sig", ""));
    DeleteFileW((server_root() + L"\\pc\\manifest.json.sig").c_str());
    expect_refused("no signature");
    ASSERT_TRUE(put_server_file("/pc/manifest.json.sig",
                                signature_file_for("manifest.json", 5, manifest + " ", {KEY_A})));
    expect_refused("the signature does not match");
    ASSERT_TRUE(put_server_file("/pc/manifest.json.sig",
                                signature_file_for("latest.json", 5, manifest, {KEY_A})));
    expect_refused("the signature is for 'latest.json'");
    ASSERT_TRUE(put_server_file("/pc/manifest.json.sig",
                                signature_file_for("manifest.json", 5, manifest, {KEY_STRANGER})));
    expect_refused("signed by an unknown key");
    ASSERT_TRUE(put_server_file("/pc/manifest.json.sig", "korval-signature 1\n"));
    expect_refused("not a signature file");

    // Signed by the second key of the launcher's two.
    ASSERT_TRUE(put_signed_server_file("/pc/manifest.json", "manifest.json", 5, manifest));
    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    expect_installed(files);

    // An older release, validly signed once, is not taken back.
    remove_tree(game_dir);
    ASSERT_TRUE(put_signed_server_file("/pc/manifest.json", "manifest.json", 4, manifest));
    expect_refused("release 4 is older than release 5, already accepted");
}

TEST_F(Install, RefusedManifests) {
    const std::string hash(64, 'a');
    const std::string good = "{\"url\":\"ok.bin\",\"hash\":\"" + hash + "\",\"size\":1}";
    struct Case {
        std::string body;
        std::string title;
        std::string message;
    };
    const std::string damaged = "Список файлов на сервере повреждён";
    const std::string no_link =
        "Не удалось получить список файлов игры. Проверьте интернет и нажмите «Повторить».";
    for (const Case& c : std::vector<Case>{
             {"{\"basePath\":\"pc\",\"files\":[" + good + "]}", "Ошибка обновления",
              damaged + "."},
             {"{\"basePath\":\"/pc\",\"files\":[{\"url\":\"../x\",\"hash\":\"" + hash + "\"}]}",
              "Ошибка обновления", damaged + " (../x)."},
             {"{\"basePath\":\"/pc\",\"files\":[" + good + ",{\"url\":\"h.bin\",\"hash\":\"" +
                  std::string(63, 'a') + "\"}]}",
              "Ошибка обновления", damaged + " (h.bin)."},
             {"{\"basePath\":\"/pc\",\"files\":[{\"url\":\"n.bin\",\"x\":{},\"hash\":\"" + hash +
                  "\"}]}",
              "Ошибка обновления", damaged + " (n.bin)."},
             // Two names for one file on Windows.
             {"{\"basePath\":\"/pc\",\"files\":[" + good + ",{\"url\":\"OK.bin\",\"hash\":\"" +
                  hash + "\"}]}",
              "Ошибка обновления", damaged + " (OK.bin)."},
             {"{\"basePath\":\"/pc\",\"files\":[]}", "Ошибка обновления",
              "На сервере пока нет файлов игры."},
             {std::string(4194305, ' '), "Нет связи с сервером", no_link},
         }) {
        ASSERT_TRUE(put_server_file("/pc/manifest.json", c.body));
        run_job();
        EXPECT_EQ(window.start_game, 0);
        EXPECT_EQ(window.last_event(), error_event_text(c.title, c.message));
        EXPECT_TRUE(contains(log_text(), "!! download: " + c.title + ": " + c.message + "\r\n"));
        EXPECT_FALSE(file_exists(index_path()));
    }
    // No manifest at all.
    set_server_faults(R"({"/pc/manifest.json": {"status": 404}})");
    run_job();
    EXPECT_EQ(window.last_event(), error_event_text("Нет связи с сервером", no_link));
    // Nothing but manifests was asked for.
    for (const SeenRequest& r : seen_requests()) EXPECT_EQ(r.path, "/pc/manifest.json");
}

}  // namespace
