// Runs that fail: one file that cannot be fetched, and the "--fake-error"
// test failure. Both must leave the partial files of the others for a retry.
#include <gtest/gtest.h>

#include "content_server_support.h"
#include "job_harness.h"
#include "launcher/download/download_events.h"
#include "launcher/download/file_index.h"

namespace {

class Failures : public JobFixtureBase, public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_available()); }
    uint64_t part_size(const std::string& path) {
        FileState s = query_file_state(local(path) + L".part");
        return s.exists ? s.size : 0;
    }
};

TEST_F(Failures, FileThatKeepsFailingStopsTheOtherWorkers) {
    const std::vector<GameFile> files = {
        {"slow1.bin", pattern_bytes(3 * 1048576, 1)},
        {"broken/file.bin", pattern_bytes(10000, 2)},
        {"slow2.bin", pattern_bytes(3 * 1048576, 3)},
        {"slow3.bin", pattern_bytes(3 * 1048576, 4)},
    };
    publish_game(files);
    // The slow ones would take about 19 s; the broken one gives up after 9 s.
    set_server_faults(R"({"/pc/files/broken/file.bin": {"status": 500},
                          "/pc/files/slow1.bin": {"trickle": [16384, 100]},
                          "/pc/files/slow2.bin": {"trickle": [16384, 100]},
                          "/pc/files/slow3.bin": {"trickle": [16384, 100]}})");

    const DWORD start = GetTickCount();
    run_job();
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(window.start_game, 0);
    EXPECT_EQ(window.count("\"type\":\"error\""), 1);
    EXPECT_EQ(window.last_event(),
              error_event_text("Ошибка загрузки",
                               "Не удалось загрузить файл 'broken/file.bin': HTTP 500."));
    // Three attempts with 1.5 + 3 + 4.5 s of pauses, then the others stop in
    // their current transfer instead of finishing it.
    EXPECT_GE(elapsed, 9000u);
    EXPECT_LT(elapsed, 13000u);
    EXPECT_EQ(requests_for("/pc/files/broken/file.bin"), 3);

    const std::string log = log_text();
    for (int attempt = 1; attempt <= 3; ++attempt)
        EXPECT_TRUE(contains(log, "download: broken/file.bin attempt " + std::to_string(attempt) +
                                      ": HTTP 500\r\n"))
            << log;
    EXPECT_EQ(occurrences(log, " attempt "), 3) << log;
    EXPECT_EQ(occurrences(log, "!! download: "), 1) << log;
    for (const char* slow : {"slow1.bin", "slow2.bin", "slow3.bin"}) {
        EXPECT_GT(part_size(slow), 0u) << slow;
        EXPECT_LT(part_size(slow), 3u * 1048576) << slow;
        EXPECT_FALSE(file_exists(local(slow))) << slow;
    }
    // Nothing arrived for it, so nothing of it can be resumed either.
    EXPECT_EQ(part_size("broken/file.bin"), 0u);
}

TEST_F(Failures, FakeErrorBreaksOnceAtThirtyPercent) {
    std::vector<GameFile> files;
    // Large enough that each transfer takes several reads (Wine's WinHTTP
    // fills the whole 256 KiB buffer before a read returns).
    const uint64_t file_size = 2 * 1048576;
    for (unsigned i = 0; i < 4; ++i)
        files.push_back({"p" + std::to_string(i) + ".bin", pattern_bytes(file_size, 30 + i)});
    publish_game(files);
    std::string faults = "{";
    for (unsigned i = 0; i < 4; ++i)
        faults += std::string(i ? "," : "") + "\"/pc/files/p" + std::to_string(i) +
                  ".bin\": {\"trickle\": [32768, 30]}";
    set_server_faults(faults + "}");

    run_job(true);
    const std::string message =
        "Тест: обрыв загрузки (--fake-error). Нажмите «Повторить» — продолжится с того же места.";
    EXPECT_EQ(window.start_game, 0);
    EXPECT_EQ(window.last_event(), error_event_text("Ошибка загрузки", message));
    uint64_t kept = 0;
    for (const GameFile& f : files) kept += part_size(f.path);
    const uint64_t need = 4 * file_size;
    EXPECT_GE(kept, need * 3 / 10);
    EXPECT_LT(kept, need);
    std::string log = log_text();
    EXPECT_EQ(occurrences(log, ", --fake-error: will break once at 30%\r\n"), 1) << log;
    EXPECT_TRUE(contains(log, "!! download: Ошибка загрузки: " + message + "\r\n"));
    EXPECT_FALSE(contains(log, "attempt")) << log;

    // The retry in the same process runs through and resumes the partials.
    clear_server_requests();
    run_job(true);
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    for (const GameFile& f : files) EXPECT_EQ(read_file(local(f.path)), f.content) << f.path;
    log = log_text();
    EXPECT_EQ(occurrences(log, ", --fake-error: will break once at 30%"), 1) << log;
    EXPECT_EQ(occurrences(log, "download: started into '"), 2) << log;
    int resumed = 0;
    for (const SeenRequest& r : seen_requests())
        if (!r.range.empty()) ++resumed;
    EXPECT_GT(resumed, 0);
}

TEST_F(Failures, MoreBytesThanTheFileHasIsACorruptDownload) {
    const std::vector<GameFile> files = {{"over.bin", pattern_bytes(100000, 5)},
                                         {"fine.bin", pattern_bytes(20000, 6)}};
    publish_game(files);
    // A gibibyte too many: written out, it would take far longer than the
    // three attempts' pauses.
    set_server_faults(R"({"/pc/files/over.bin": {"extra_bytes": 1073741824}})");

    const DWORD start = GetTickCount();
    run_job();
    const DWORD elapsed = GetTickCount() - start;
    const std::string reason = "файл повреждён при скачивании (размер 1073841824)";
    EXPECT_EQ(window.start_game, 0);
    EXPECT_EQ(window.last_event(),
              error_event_text("Ошибка загрузки",
                               "Не удалось загрузить файл 'over.bin': " + reason + "."));
    EXPECT_LT(elapsed, 12000u);
    EXPECT_EQ(requests_for("/pc/files/over.bin"), 3);
    const std::string log = log_text();
    for (int attempt = 1; attempt <= 3; ++attempt)
        EXPECT_TRUE(contains(log, "download: over.bin attempt " + std::to_string(attempt) + ": " +
                                      reason + "\r\n"))
            << log;
    EXPECT_FALSE(file_exists(local("over.bin")));
    EXPECT_FALSE(file_exists(local("over.bin") + L".part"));
    EXPECT_FALSE(contains(index_text(), "over.bin"));
    EXPECT_EQ(read_file(local("fine.bin")), files[1].content);

    // The same from a resumed partial: the range's answer is too long too.
    clear_server_requests();
    set_server_faults(R"({"/pc/files/over.bin": {"extra_bytes": 1, "times": 1}})");
    ASSERT_TRUE(write_file(local("over.bin") + L".part", files[0].content.substr(0, 40000)));
    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    EXPECT_EQ(read_file(local("over.bin")), files[0].content);
    EXPECT_TRUE(contains(log_text(), "download: over.bin attempt 1: файл повреждён при "
                                     "скачивании (размер 100001)\r\n"))
        << log_text();
    std::vector<SeenRequest> seen;
    for (const SeenRequest& r : seen_requests())
        if (r.path == "/pc/files/over.bin") seen.push_back(r);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].range, "bytes=40000-");
    EXPECT_EQ(seen[1].range, "");
}

}  // namespace
