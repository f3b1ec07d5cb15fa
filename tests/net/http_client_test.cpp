// The HTTP client against the local HTTPS content server, under Wine's WinHTTP
// with real certificate validation.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "content_server_support.h"
#include "launcher/core/log.h"
#include "launcher/core/win_handles.h"
#include "launcher/net/http_client.h"
#include "launcher/net/sha256.h"
#include "launcher/session/text_convert.h"
#include "test_support.h"

namespace {

std::string pattern(size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
    return s;
}

class HttpClient : public ::testing::Test {
protected:
    TempDir dir{L"http"};
    std::wstring log_path = dir.file(L"korval_launcher.log");

    void SetUp() override {
        ASSERT_TRUE(server_available()) << "run through tools/with_content_server.sh";
        clear_server_faults();
        clear_server_requests();
        log_open(wide_to_narrow(log_path, CP_ACP), false);
    }
    void TearDown() override { log_close(); }

    std::string log_text() { return read_file(log_path); }

    // An open file for a transfer, positioned at its end as the caller leaves it.
    UniqueHandle open_target(const std::wstring& name, const std::string& initial = "") {
        std::wstring path = dir.file(name);
        write_file(path, initial);
        UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        SetFilePointer(file.get(), 0, nullptr, FILE_END);
        return file;
    }

    struct Transfer {
        bool ok = false;
        std::string error;
        bool discard = true;
        uint64_t progress = 0;
    };
    Transfer to_file(const std::string& path, uint64_t offset, HANDLE file,
                     Sha256Hasher* hasher = nullptr, int32_t stop_value = 0) {
        Transfer t;
        std::atomic<uint64_t> progress{0};
        std::atomic<int32_t> stop{stop_value};
        t.ok = http_get_to_file(path, offset, file, hasher, progress, stop, t.error, t.discard);
        t.progress = progress.load();
        return t;
    }
};

TEST_F(HttpClient, MemoryLimitIsInclusive) {
    const std::string body = pattern(100000, 1);
    ASSERT_TRUE(put_server_file("/mem/doc.json", body));
    std::string got = "stale";
    ASSERT_TRUE(http_get_to_memory("/mem/doc.json", got, 100000));
    EXPECT_EQ(got, body);

    EXPECT_FALSE(http_get_to_memory("/mem/doc.json", got, 99999));
    EXPECT_TRUE(contains(log_text(), "!! http: /mem/doc.json larger than 99999 bytes\r\n"));
}

TEST_F(HttpClient, MemoryEmptyBodySucceeds) {
    ASSERT_TRUE(put_server_file("/mem/empty", ""));
    std::string got = "stale";
    EXPECT_TRUE(http_get_to_memory("/mem/empty", got, 10));
    EXPECT_EQ(got, "");
}

TEST_F(HttpClient, MemoryFailuresAreLoggedWithTheirCause) {
    std::string got;
    EXPECT_FALSE(http_get_to_memory("/mem/missing", got, 1000));
    EXPECT_TRUE(contains(log_text(), "!! http: GET /mem/missing -> HTTP 404\r\n"));

    put_server_file("/mem/broken", "x");
    set_server_faults(R"({"/mem/broken": {"status": 500}})");
    EXPECT_FALSE(http_get_to_memory("/mem/broken", got, 1000));
    EXPECT_TRUE(contains(log_text(), "!! http: GET /mem/broken -> HTTP 500\r\n"));

    // A server that hangs up without answering.
    set_server_faults(R"({"/mem/broken": {"drop": true}})");
    EXPECT_FALSE(http_get_to_memory("/mem/broken", got, 1000));
    EXPECT_TRUE(contains(log_text(),
                         "!! http: GET /mem/broken -> нет соединения с сервером ("));
}

TEST_F(HttpClient, MemoryCutConnectionFails) {
    put_server_file("/mem/cut", pattern(200000, 2));
    set_server_faults(R"({"/mem/cut": {"cut_after": 50000}})");
    std::string got;
    EXPECT_FALSE(http_get_to_memory("/mem/cut", got, 1000000));
}

TEST_F(HttpClient, FreshFileTransferWritesHashesAndCounts) {
    const std::string body = pattern(1500000, 3);
    put_server_file("/files/fresh.bin", body);
    UniqueHandle file = open_target(L"fresh.bin");
    Sha256Hasher hasher;
    hasher.open();
    Transfer t = to_file("/files/fresh.bin", 0, file.get(), &hasher);
    file.reset();
    EXPECT_TRUE(t.ok) << t.error;
    EXPECT_FALSE(t.discard);
    EXPECT_EQ(t.progress, body.size());
    EXPECT_EQ(read_file(dir.file(L"fresh.bin")), body);
    EXPECT_EQ(hasher.hex_digest(), sha256_hex(body));

    // What went over the wire: the agent, the cache line, no range.
    std::vector<std::string> requests = server_requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(contains(requests[0], R"(["User-Agent", "KorvalLauncher"])")) << requests[0];
    EXPECT_TRUE(contains(requests[0], R"(["Cache-Control", "no-cache"])")) << requests[0];
    EXPECT_FALSE(contains(requests[0], "Range")) << requests[0];
}

TEST_F(HttpClient, ResumedTransferAppendsOnlyTheTail) {
    const std::string body = pattern(1200000, 4);
    put_server_file("/files/resume.bin", body);
    const size_t have = 1000000;
    UniqueHandle file = open_target(L"resume.bin", body.substr(0, have));
    Sha256Hasher hasher;
    hasher.open();
    hasher.update(body.data(), have);  // the caller hashes what was already there
    Transfer t = to_file("/files/resume.bin", have, file.get(), &hasher);
    file.reset();
    EXPECT_TRUE(t.ok) << t.error;
    EXPECT_EQ(t.progress, body.size() - have);
    EXPECT_EQ(read_file(dir.file(L"resume.bin")), body);
    EXPECT_EQ(hasher.hex_digest(), sha256_hex(body));
    ASSERT_EQ(server_requests().size(), 1u);
    EXPECT_TRUE(contains(server_requests()[0], R"(["Range", "bytes=1000000-"])"));
}

TEST_F(HttpClient, RangeIgnoredAsksTheCallerToDiscard) {
    const std::string body = pattern(300000, 5);
    put_server_file("/files/norange.bin", body);
    set_server_faults(R"({"/files/norange.bin": {"ignore_range": true}})");
    UniqueHandle file = open_target(L"norange.bin", body.substr(0, 1000));
    Transfer t = to_file("/files/norange.bin", 1000, file.get());
    file.reset();
    EXPECT_FALSE(t.ok);
    EXPECT_TRUE(t.discard);
    EXPECT_EQ(t.error, "сервер не поддерживает докачку");
    EXPECT_EQ(t.progress, 0u);
    EXPECT_EQ(read_file(dir.file(L"norange.bin")), body.substr(0, 1000)) << "file untouched";
}

TEST_F(HttpClient, UnexpectedStatusesFailWithTheirNumber) {
    put_server_file("/files/small.bin", pattern(5000, 6));
    UniqueHandle file = open_target(L"small.bin", pattern(5000, 6));
    // Resuming at the very end: the server answers 416.
    Transfer t = to_file("/files/small.bin", 5000, file.get());
    EXPECT_FALSE(t.ok);
    EXPECT_FALSE(t.discard);
    EXPECT_EQ(t.error, "HTTP 416");

    // A partial answer to a request for the whole file.
    set_server_faults(R"({"/files/small.bin": {"status": 206}})");
    UniqueHandle fresh = open_target(L"small2.bin");
    EXPECT_EQ(to_file("/files/small.bin", 0, fresh.get()).error, "HTTP 206");
    EXPECT_EQ(to_file("/files/none.bin", 0, fresh.get()).error, "HTTP 404");
}

TEST_F(HttpClient, StopFlagBeforeTheFirstReadWritesNothing) {
    put_server_file("/files/stop.bin", pattern(400000, 7));
    UniqueHandle file = open_target(L"stop.bin");
    Transfer t = to_file("/files/stop.bin", 0, file.get(), nullptr, 1);
    file.reset();
    EXPECT_FALSE(t.ok);
    EXPECT_EQ(t.error, "остановлено");
    EXPECT_EQ(t.progress, 0u);
    EXPECT_EQ(read_file(dir.file(L"stop.bin")), "");
}

TEST_F(HttpClient, StopMidTransferKeepsWhatWasWrittenCounted) {
    const std::string body = pattern(2000000, 8);
    put_server_file("/files/slow.bin", body);
    set_server_faults(R"({"/files/slow.bin": {"trickle": [32768, 15]}})");
    UniqueHandle file = open_target(L"slow.bin");
    std::atomic<uint64_t> progress{0};
    std::atomic<int32_t> stop{0};
    std::thread stopper([&] {
        while (progress.load() < 100000) Sleep(5);
        stop.store(1);
    });
    std::string error;
    bool discard = true;
    Sha256Hasher hasher;
    hasher.open();
    bool ok = http_get_to_file("/files/slow.bin", 0, file.get(), &hasher, progress, stop, error,
                               discard);
    stopper.join();
    file.reset();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "остановлено");
    std::string written = read_file(dir.file(L"slow.bin"));
    EXPECT_EQ(written.size(), progress.load());
    EXPECT_LT(written.size(), body.size());
    EXPECT_EQ(written, body.substr(0, written.size()));
    EXPECT_EQ(hasher.hex_digest(), sha256_hex(written)) << "hashed exactly what was written";
}

TEST_F(HttpClient, CutMidBodyKeepsTheBytesThatArrived) {
    const std::string body = pattern(1000000, 9);
    put_server_file("/files/cut.bin", body);
    set_server_faults(R"({"/files/cut.bin": {"cut_after": 300000}})");
    UniqueHandle file = open_target(L"cut.bin");
    Sha256Hasher hasher;
    hasher.open();
    Transfer t = to_file("/files/cut.bin", 0, file.get(), &hasher);
    file.reset();
    EXPECT_FALSE(t.ok);
    EXPECT_EQ(t.error.rfind("обрыв соединения (", 0), 0u) << t.error;
    std::string written = read_file(dir.file(L"cut.bin"));
    EXPECT_EQ(written.size(), t.progress);
    EXPECT_EQ(written, body.substr(0, written.size()));
    EXPECT_EQ(hasher.hex_digest(), sha256_hex(written));
}

TEST_F(HttpClient, PathsArePercentEncodedByteForByte) {
    put_server_file("/enc/a$b Игра~x.bin", "payload");
    std::string got;
    ASSERT_TRUE(http_get_to_memory("/enc/a$b Игра~x.bin", got, 100));
    EXPECT_EQ(got, "payload");
    put_server_file("/enc/Az09-._~/plain", "plain");
    ASSERT_TRUE(http_get_to_memory("/enc/Az09-._~/plain", got, 100));

    std::vector<std::string> requests = server_requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(contains(requests[0], R"("raw_path": "/enc/a%24b%20%D0%98%D0%B3%D1%80%D0%B0~x.bin")"))
        << requests[0];
    EXPECT_TRUE(contains(requests[1], R"("raw_path": "/enc/Az09-._~/plain")")) << requests[1];
    EXPECT_EQ(http_encode_path("/%?#\x7f"), L"/%25%3F%23%7F");
}

TEST_F(HttpClient, HeaderBlock) {
    EXPECT_EQ(http_header_block(0), L"Cache-Control: no-cache\r\n");
    EXPECT_EQ(http_header_block(1000000), L"Cache-Control: no-cache\r\nRange: bytes=1000000-\r\n");
    EXPECT_EQ(http_header_block(5000000000ull),
              L"Cache-Control: no-cache\r\nRange: bytes=5000000000-\r\n");
    // A block update's bounded ranges, the first block included.
    EXPECT_EQ(http_header_block(0, 2048), L"Cache-Control: no-cache\r\nRange: bytes=0-2047\r\n");
    EXPECT_EQ(http_header_block(5000000000ull, 1),
              L"Cache-Control: no-cache\r\nRange: bytes=5000000000-5000000000\r\n");
}

TEST_F(HttpClient, ConcurrentTransfersShareOneExactCounter) {
    std::vector<std::string> bodies;
    for (unsigned i = 0; i < 8; ++i) {
        bodies.push_back(pattern(300000 + i * 77777, 10 + i));
        put_server_file("/par/" + std::to_string(i), bodies.back());
    }
    std::atomic<uint64_t> progress{0};
    std::atomic<int32_t> stop{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            for (int i = w; i < 8; i += 4) {
                UniqueHandle file = open_target(L"par" + std::to_wstring(i));
                std::string error;
                bool discard = false;
                if (!http_get_to_file("/par/" + std::to_string(i), 0, file.get(), nullptr,
                                      progress, stop, error, discard))
                    ++failures;
            }
        });
    for (std::thread& t : workers) t.join();
    EXPECT_EQ(failures.load(), 0);
    uint64_t total = 0;
    for (unsigned i = 0; i < 8; ++i) {
        total += bodies[i].size();
        EXPECT_EQ(read_file(dir.file(L"par" + std::to_wstring(i))), bodies[i]) << i;
    }
    EXPECT_EQ(progress.load(), total);
}

TEST_F(HttpClient, EveryConnectionIsClosedOnEveryPath) {
    // Wine does not count WinHTTP handles as process handles, but a leaked
    // request keeps its connection open at the server.
    put_server_file("/mem/tiny", "t");
    put_server_file("/mem/big", pattern(5000, 11));
    set_server_faults(R"({"/mem/cut": {"cut_after": 10}})");
    put_server_file("/mem/cut", pattern(5000, 12));
    std::string got;
    for (int i = 0; i < 60; ++i) {
        switch (i % 6) {
        case 0: http_get_to_memory("/mem/tiny", got, 10); break;
        case 1: http_get_to_memory("/mem/absent", got, 10); break;
        case 2: http_get_to_memory("/mem/big", got, 10); break;
        case 3: http_get_to_memory("/mem/cut", got, 100000); break;
        case 4: {
            UniqueHandle file = open_target(L"leak.bin");
            to_file("/mem/big", 0, file.get());
            break;
        }
        default: {
            UniqueHandle file = open_target(L"leak.bin", "xx");
            to_file("/mem/big", 2, file.get(), nullptr, 1);
        }
        }
    }
    int open = -1;
    for (int wait = 0; wait < 40 && open != 0; ++wait, Sleep(50)) open = server_open_connections();
    EXPECT_EQ(open, 0);
}

}  // namespace
