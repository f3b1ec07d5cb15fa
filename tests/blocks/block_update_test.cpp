// A described archive changed on the server reaches an installed game as
// its changed blocks: the update builds the new file from the old one and
// range requests, counted here at the server, and anything unexpected ends
// in the whole file, right all the same.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "block_description.h"
#include "content_server_support.h"
#include "job_harness.h"
#include "scanner_support.h"
#include "launcher/download/game_files_job.h"

namespace {

const char IMG[] = "models/gta3.img";

class BlockUpdate : public JobFixtureBase, public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_available());
        clear_server_faults();
    }
    void TearDown() override { clear_server_faults(); }

    // Installs `old_img` with a small file beside it, then publishes
    // `new_img` with the description `served` (its own unless given) while
    // the manifest vouches for `declared` (the served one unless given), and
    // runs the job.
    void update(const std::string& old_img, const std::string& new_img,
                const std::string& served = std::string(),
                const std::string& declared = std::string()) {
        install(old_img);
        update_published(new_img, served, declared);
    }

    void install(const std::string& old_img) {
        files = {{"data/conf.txt", "one"}, {IMG, old_img}};
        publish_game(files);
        run_job();
        ASSERT_EQ(window.start_game, 1) << window.last_event();
    }

    // The second half of update(): over what is installed now.
    void update_published(const std::string& new_img, const std::string& served = std::string(),
                          const std::string& declared = std::string()) {
        files = {{"data/conf.txt", "two"}, {IMG, new_img}};
        const std::string blocks = served.empty() ? describe_blocks(new_img) : served;
        publish_game(files);
        ASSERT_TRUE(put_server_file(std::string(GAME_BASE_PATH) + "/" + IMG + ".blocks", blocks));
        const std::string vouched = declared.empty() ? blocks : declared;
        ASSERT_TRUE(put_server_file("/pc/manifest.json", described_manifest(files, IMG, vouched)));
        clear_server_requests();
        window.clear();
        run_job();
        ASSERT_EQ(window.start_game, 1) << window.last_event();
        EXPECT_TRUE(read_file(local(IMG)) == new_img);
        EXPECT_EQ(read_file(local("data/conf.txt")), "two");
        EXPECT_FALSE(file_exists(local(IMG) + L".part"));
    }

    // Bytes of the archive the server was asked for; a request without a
    // range counts as the whole file.
    uint64_t fetched_bytes(size_t size) {
        uint64_t total = 0;
        for (const SeenRequest& r : seen_requests()) {
            if (r.path != std::string(GAME_BASE_PATH) + "/" + IMG) continue;
            if (r.range.empty()) {
                total += size;
                continue;
            }
            // One range or several: "bytes=a-b,c-d,...".
            const char* at = r.range.c_str() + std::strlen("bytes=");
            for (;;) {
                unsigned long long first = 0, last = 0;
                int used = 0;
                if (std::sscanf(at, "%llu-%llu%n", &first, &last, &used) != 2) {
                    ADD_FAILURE() << r.range;
                    break;
                }
                total += last - first + 1;
                at += used;
                if (*at++ != ',') break;
            }
        }
        return total;
    }

    std::vector<GameFile> files;
};

TEST_F(BlockUpdate, ChangedArchiveArrivesAsItsChangedBlocks) {
    std::mt19937 random(21);
    std::vector<std::string> entries = archive_entries(random, 150);
    const std::string old_img = archive(random, entries);

    std::string in_place = old_img;
    for (size_t at : {size_t{9000}, old_img.size() / 2})
        for (size_t i = 0; i < 300; ++i) in_place[at + i] = static_cast<char>(~in_place[at + i]);
    std::string shifted = old_img;
    shifted.insert(old_img.size() / 3, random_bytes(random, 1000));
    std::shuffle(entries.begin(), entries.end(), random);
    entries[3] = random_bytes(random, 5 * TEST_BLOCK_SIZE);
    const std::string rebuilt = archive(random, entries);
    // An entry of one sector between two others in the new order is not
    // found: a block is taken only together with a neighbour.
    size_t single = 0;
    for (const std::string& entry : entries) single += entry.size() == TEST_BLOCK_SIZE ? 1 : 0;

    for (const std::string* new_img :
         std::vector<const std::string*>{&in_place, &shifted, &rebuilt}) {
        SCOPED_TRACE(new_img == &in_place  ? "in place"
                     : new_img == &shifted ? "shifted"
                                           : "rebuilt");
        update(old_img, *new_img);
        const uint64_t fetched = fetched_bytes(new_img->size());
        EXPECT_GT(fetched, 0u);
        EXPECT_LE(fetched, (6u + (new_img == &rebuilt ? single : 0)) * TEST_BLOCK_SIZE);
        EXPECT_EQ(requests_for(std::string(GAME_BASE_PATH) + "/" + IMG + ".blocks"), 1);
        EXPECT_TRUE(contains(log_text(), std::string("download: ") + IMG + " from local blocks"));
        // Progress counts what was really fetched, not the whole archive.
        EXPECT_EQ(window.count("\"phase\":\"done\",\"bytesDone\":" +
                               std::to_string(fetched + 3) + ","),
                  1);
    }
}

// Many changed stretches of one archive go out as a few requests for many
// ranges each. A server that answers such a request with one range, the
// whole file or a broken multipart body is asked one range at a time for
// the rest of the run (one log line), and the archive still ends right.
TEST_F(BlockUpdate, ManyRangesGoInFewRequestsWhateverTheServerAnswers) {
    std::mt19937 random(24);
    const std::string old_img = archive(random, archive_entries(random, 150));
    std::string new_img = old_img;
    const size_t changes = 40;
    for (size_t k = 0; k < changes; ++k) {
        const size_t at = 5000 + k * (old_img.size() - 10000) / changes;
        for (size_t i = 0; i < 300; ++i) new_img[at + i] = static_cast<char>(~new_img[at + i]);
    }
    const std::string whole = std::string(GAME_BASE_PATH) + "/" + IMG;
    const std::string fallback = "block build: the server answers one range per request";
    const auto ranges_asked = [&] {
        size_t ranges = 0;
        for (const SeenRequest& r : seen_requests())
            if (r.path == whole) ranges += 1 + std::count(r.range.begin(), r.range.end(), ',');
        return ranges;
    };
    const auto occurrences = [](const std::string& text, const std::string& what) {
        size_t count = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++count;
        return count;
    };

    for (const char* fault : {"", "{\"reverse_parts\": true}"}) {
        SCOPED_TRACE(fault);
        set_server_faults(*fault ? "{\"" + whole + "\": " + fault + "}" : "{}");
        update(old_img, new_img);
        EXPECT_GE(ranges_asked(), changes);
        EXPECT_EQ(requests_for(whole), 1);
        EXPECT_TRUE(contains(log_text(), std::string("download: ") + IMG + " from local blocks"));
        EXPECT_FALSE(contains(log_text(), fallback));
    }
    for (const char* fault :
         {"{\"single_range\": true}", "{\"max_ranges\": 1}",
          "{\"malformed_multipart\": \"short_part\"}", "{\"malformed_multipart\": \"missing_part\"}",
          "{\"malformed_multipart\": \"bad_boundary\"}",
          "{\"malformed_multipart\": \"wrong_range\"}"}) {
        SCOPED_TRACE(fault);
        install(old_img);
        const size_t before = occurrences(log_text(), fallback);
        set_server_faults("{\"" + whole + "\": " + fault + "}");
        update_published(new_img);
        EXPECT_EQ(occurrences(log_text(), fallback), before + 1);
        EXPECT_TRUE(contains(log_text(), std::string("download: ") + IMG + " from local blocks"));
        // One request for several ranges, then one for each of them.
        EXPECT_EQ(2 * (static_cast<size_t>(requests_for(whole)) - 1), ranges_asked());
    }
}

TEST_F(BlockUpdate, WhatCannotBeTrustedEndsInTheWholeFile) {
    std::mt19937 random(22);
    const std::string old_img = archive(random, archive_entries(random, 80));
    std::string new_img = old_img;
    for (size_t i = 0; i < 500; ++i) new_img[20000 + i] = static_cast<char>(i);
    const std::string whole = std::string(GAME_BASE_PATH) + "/" + IMG;

    // A description that is not the one the manifest vouches for.
    std::string tampered = describe_blocks(new_img);
    tampered[30] = static_cast<char>(~tampered[30]);
    update(old_img, new_img, tampered, describe_blocks(new_img));
    EXPECT_EQ(fetched_bytes(new_img.size()), new_img.size());
    EXPECT_TRUE(contains(log_text(), std::string("download: ") + IMG +
                                         " whole instead: block map: content differs"));

    // A description that the manifest vouches for but that lies about the
    // file: the blocks it names build something else.
    update(old_img, new_img, describe_blocks(old_img.substr(0, new_img.size())));
    EXPECT_TRUE(contains(log_text(), "differs from the manifest's hash"));

    // An unrelated old copy: the plain download of the whole file, which
    // costs the same bytes and resumes as one, not a range of all of it.
    update(random_bytes(random, old_img.size()), new_img);
    EXPECT_TRUE(contains(log_text(), std::string("download: ") + IMG +
                                         " whole instead: block build: the local file holds "
                                         "nothing of the new version"))
        << log_text();
    int plain = 0;
    for (const SeenRequest& r : seen_requests())
        if (r.path == whole) {
            EXPECT_EQ(r.range, "");
            ++plain;
        }
    EXPECT_EQ(plain, 1);

    // A server that answers ranges with the whole file.
    set_server_faults(std::string("{\"") + whole + "\": {\"ignore_range\": true}}");
    update(old_img, new_img);
    EXPECT_TRUE(contains(log_text(), "the server ignored the range"));
    clear_server_faults();

    // The old copy open for writing by another program (a patcher, an
    // unpacker) could change under the build: it is not used. The holder
    // lets go a moment later, within the wait of the final move.
    install(old_img);
    FileHolder writer(local(IMG), Hold::Writer);
    ASSERT_TRUE(writer.holding());
    std::thread letting_go([&] {
        Sleep(1500);
        writer.release();
    });
    update_published(new_img);
    letting_go.join();
    EXPECT_EQ(fetched_bytes(new_img.size()), new_img.size());
    EXPECT_TRUE(contains(log_text(), std::string("download: ") + IMG +
                                         " whole instead: block build: cannot open the local "
                                         "file (32)"))
        << log_text();
}

// Stopped while its ranges arrive (as a kill would stop it), the update
// leaves the old file in place and a partial that holds only the new file's
// first bytes; the next run continues that partial to the right file.
TEST_F(BlockUpdate, StoppedMidBuildLeavesNoWrongFile) {
    std::mt19937 random(23);
    const std::string old_img = archive(random, archive_entries(random, 80));
    std::string new_img = old_img;
    for (size_t at : {size_t{30000}, old_img.size() - 40000})
        for (size_t i = 0; i < 9000; ++i) new_img[at + i] = static_cast<char>(i * 7);
    const std::string whole = std::string(GAME_BASE_PATH) + "/" + IMG;
    files = {{"data/conf.txt", "one"}, {IMG, old_img}};
    publish_game(files);
    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();

    files = {{"data/conf.txt", "two"}, {IMG, new_img}};
    const std::string blocks = describe_blocks(new_img);
    publish_game(files);
    ASSERT_TRUE(put_server_file(whole + ".blocks", blocks));
    ASSERT_TRUE(put_server_file("/pc/manifest.json", described_manifest(files, IMG, blocks)));
    set_server_faults("{\"" + whole + "\": {\"trickle\": [1024, 100]}}");
    clear_server_requests();
    window.clear();
    begin();
    ASSERT_TRUE(window.pump_until([&] { return requests_for(whole) > 0; }, 20000));
    stop_game_files_job();
    window.drain();
    EXPECT_EQ(window.start_game, 0);
    EXPECT_TRUE(read_file(local(IMG)) == old_img);
    const std::string part = read_file(local(IMG) + L".part");
    EXPECT_GT(part.size(), 0u);
    EXPECT_LT(part.size(), new_img.size());
    EXPECT_TRUE(part == new_img.substr(0, part.size()));

    clear_server_faults();
    window.clear();
    run_job();
    ASSERT_EQ(window.start_game, 1) << window.last_event();
    EXPECT_TRUE(read_file(local(IMG)) == new_img);
    EXPECT_FALSE(file_exists(local(IMG) + L".part"));
}

}  // namespace
