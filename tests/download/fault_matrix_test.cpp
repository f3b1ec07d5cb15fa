// The fault matrix of the game files job: whatever the server or the disk
// does, a run ends with every final file right or with its error and the
// partial files kept, and the next run completes the game.
#include <gtest/gtest.h>

#include "content_server_support.h"
#include "job_harness.h"
#include "launcher/download/download_events.h"
#include "launcher/download/game_files_job.h"

namespace {

class FaultMatrix : public JobFixtureBase, public ::testing::Test {
protected:
    std::vector<GameFile> files;

    void SetUp() override { ASSERT_TRUE(server_available()); }
    void publish(const std::vector<std::string>& names) {
        files = {{"samp.exe", "MZ samp"}, {"gta_sa.exe", "MZ gta"}};
        unsigned seed = 1;
        for (const std::string& name : names)
            files.push_back({name, pattern_bytes(150000 + seed * 4099, seed)}), ++seed;
        publish_game(files);
    }
    std::string fault_path(const std::string& name) const {
        return std::string(GAME_BASE_PATH) + "/" + name;
    }
    void expect_every_file_right() {
        for (const GameFile& file : files) {
            EXPECT_EQ(read_file(local(file.path)), file.content) << file.path;
            EXPECT_FALSE(file_exists(local(file.path) + L".part")) << file.path;
        }
    }
};

TEST_F(FaultMatrix, EveryPassingServerFaultIsOvercomeWithinTheRun) {
    const std::vector<std::pair<std::string, std::string>> faults = {
        {"status404.bin", R"({"status": 404, "times": 1})"},
        {"status500.bin", R"({"status": 500, "times": 1})"},
        {"status416.bin", R"({"status": 416, "times": 1})"},
        {"cut.bin", R"({"cut_after": 50000, "times": 1})"},
        {"dropped.bin", R"({"drop": true, "times": 1})"},
        {"wrong.bin", R"({"body": "not the file", "times": 1})"},
        {"extra.bin", R"({"extra_bytes": 70000, "times": 1})"},
    };
    std::vector<std::string> names;
    std::string json = "{";
    for (const auto& [name, fault] : faults) {
        names.push_back(name);
        json += std::string(json.size() > 1 ? "," : "") + "\"" + fault_path(name) + "\": " + fault;
    }
    publish(names);
    set_server_faults(json + "}");

    run_job();
    EXPECT_EQ(window.start_game, 1) << log_text();
    EXPECT_FALSE(window.has_error()) << window.last_event();
    expect_every_file_right();
    for (const auto& [name, fault] : faults)
        EXPECT_EQ(requests_for(fault_path(name)), 2) << name << ": one failed, one good attempt";
}

TEST_F(FaultMatrix, AFaultThatStaysEndsInTheErrorAndTheRetryCompletes) {
    publish({"a.bin", "missing.bin", "b.bin"});
    set_server_faults("{\"" + fault_path("missing.bin") + "\": {\"status\": 404}}");
    run_job();
    EXPECT_EQ(window.start_game, 0);
    EXPECT_EQ(window.last_event(),
              error_event_text("Ошибка загрузки",
                               "Не удалось загрузить файл 'missing.bin': HTTP 404."));
    EXPECT_FALSE(file_exists(local("missing.bin")));

    // The operator puts the file back; the page's retry runs the job again.
    clear_server_faults();
    clear_server_requests();
    run_job();
    EXPECT_EQ(window.start_game, 1) << log_text();
    expect_every_file_right();
    EXPECT_EQ(requests_for(fault_path("missing.bin")), 1);
}

TEST_F(FaultMatrix, ADamagedIndexCostsAHashPassAndNothingElse) {
    publish({"a.bin", "b.bin", "c/d.bin"});
    run_job();
    ASSERT_EQ(window.start_game, 1) << log_text();
    const std::string good = index_text();
    ASSERT_FALSE(good.empty());

    std::string crlf;
    for (char c : good) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const std::vector<std::pair<const char*, std::string>> damages = {
        {"random bytes", pattern_bytes(5000, 77)},
        {"cut in a line", good.substr(0, good.size() / 2)},
        {"a line of 100000 bytes", std::string(100000, 'x') + "\n" + good},
        {"CR LF endings", crlf},
        {"empty", ""},
    };
    for (const auto& [what, text] : damages) {
        ASSERT_TRUE(write_file(index_path(), text)) << what;
        clear_server_requests();
        run_job();
        EXPECT_EQ(window.start_game, 1) << what << "\n" << log_text();
        expect_every_file_right();
        // The files were right all along: hashed, not fetched again.
        for (const GameFile& file : files)
            EXPECT_EQ(requests_for(fault_path(file.path)), 0) << what << ": " << file.path;
    }
}

TEST_F(FaultMatrix, AServerThatGoesAwayMidRunLeavesPartialsThatTheRetryContinues) {
    publish({"a.bin", "b.bin", "c.bin", "d.bin"});
    // Every transfer breaks off after 40000 bytes, as when the server goes
    // down under it, and keeps doing so for every later attempt of the run.
    std::string gone = "{";
    for (const char* name : {"a.bin", "b.bin", "c.bin", "d.bin"})
        gone += std::string(gone.size() > 1 ? "," : "") + "\"" + fault_path(name) +
                "\": {\"cut_after\": 40000}";
    set_server_faults(gone + "}");
    begin();
    ASSERT_TRUE(window.pump_until_end()) << "the job did not end";
    stop_game_files_job();
    EXPECT_EQ(window.start_game, 0);
    EXPECT_TRUE(window.has_error()) << window.last_event();
    int partials = 0;
    for (const char* name : {"a.bin", "b.bin", "c.bin", "d.bin"}) {
        EXPECT_FALSE(file_exists(local(name))) << name;
        partials += file_exists(local(name) + L".part");
    }
    EXPECT_GT(partials, 0) << "what arrived is kept";

    clear_server_faults();
    clear_server_requests();
    run_job();
    EXPECT_EQ(window.start_game, 1) << log_text();
    expect_every_file_right();
    int resumed = 0;
    for (const SeenRequest& r : seen_requests())
        resumed += r.range.rfind("bytes=", 0) == 0 && r.range != "bytes=0-";
    EXPECT_GT(resumed, 0) << "the partials were continued, not fetched again";
}

// One stall past the receive time-out of 30 s, in the middle of a body: the
// attempt gives up and the next one continues the file. (Slow by nature; one
// case is enough.)
TEST_F(FaultMatrix, AStallPastTheReceiveTimeOutIsOneFailedAttempt) {
    publish({"stalled.bin"});
    set_server_faults("{\"" + fault_path("stalled.bin") +
                      "\": {\"trickle\": [65536, 34000], \"times\": 1}}");
    run_job();
    EXPECT_EQ(window.start_game, 1) << log_text();
    expect_every_file_right();
    EXPECT_EQ(requests_for(fault_path("stalled.bin")), 2);
}

}  // namespace
