#pragma once
// The release keys of a test program, the tests' own key pairs (tests/keys:
// release_a and release_b are the keyed launcher's, stranger is nobody's),
// and signature files made with them as the operators' tools make them.
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/net/release_keys.h"
#include "test_keys.h"

extern std::vector<std::string> test_release_keys;

// Sets the keys the launcher's code trusts for a scope, none afterwards.
class TestReleaseKeys {
public:
    explicit TestReleaseKeys(std::vector<std::string> keys) { test_release_keys = std::move(keys); }
    ~TestReleaseKeys() { test_release_keys.clear(); }
    TestReleaseKeys(const TestReleaseKeys&) = delete;
    TestReleaseKeys& operator=(const TestReleaseKeys&) = delete;
};

struct TestKey {
    const char* public_hex;
    const char* private_hex;
};
const TestKey KEY_A{TEST_KEY_RELEASE_A_PUBLIC, TEST_KEY_RELEASE_A_PRIVATE};
const TestKey KEY_B{TEST_KEY_RELEASE_B_PUBLIC, TEST_KEY_RELEASE_B_PRIVATE};
const TestKey KEY_STRANGER{TEST_KEY_STRANGER_PUBLIC, TEST_KEY_STRANGER_PRIVATE};

// The signature file of `document` ("manifest.json", "latest.json") at
// `release`, one signature line per key; empty when signing failed.
std::string signature_file_for(const char* document, uint64_t release, const std::string& bytes,
                               const std::vector<TestKey>& keys);

// Publishes `bytes` at `server_path` and its signature beside it (+ ".sig").
bool put_signed_server_file(const std::string& server_path, const char* document,
                            uint64_t release, const std::string& bytes,
                            const std::vector<TestKey>& keys = {KEY_A});
