// The manifest parser: what it accepts, what it refuses and with which text.
#include <gtest/gtest.h>

#include "launcher/download/manifest.h"

namespace {

const std::string HASH_A(64, 'a');
const std::string DAMAGED = "Список файлов на сервере повреждён.";

struct Parsed {
    bool ok = false;
    std::vector<ManifestEntry> entries;
    std::string error;
};

Parsed parse(const std::string& text) {
    Parsed p;
    p.ok = parse_manifest(text, L"C:\\Игры\\korval", p.entries, p.error);
    return p;
}

std::string entry(const std::string& url, const std::string& hash, const std::string& size) {
    return "{\"url\":\"" + url + "\",\"hash\":\"" + hash + "\",\"size\":" + size + "}";
}

std::string doc(const std::string& base, const std::string& entries) {
    return "{\"basePath\":\"" + base + "\",\"files\":[" + entries + "]}";
}

TEST(Manifest, EntriesCarryTheirServerAndLocalPaths) {
    const std::string upper =
        "ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789";
    Parsed p = parse(doc("/pc/files", entry("models/car.dff", upper, "12345") + ",\n" +
                                          entry("gta_sa.exe", HASH_A, "\"12345\"") + "," +
                                          "{\"url\":\"$x/a_b-c.txt\",\"hash\":\"" + HASH_A +
                                          "\"}"));
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.entries.size(), 3u);
    const ManifestEntry& first = p.entries[0];
    EXPECT_EQ(first.path, "models/car.dff");
    EXPECT_EQ(first.url, "/pc/files/models/car.dff");
    // Upper-case digests are accepted and compared in lower case.
    EXPECT_EQ(first.hash, "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789");
    EXPECT_EQ(first.size, 12345u);
    EXPECT_EQ(first.local_path, L"C:\\Игры\\korval\\models\\car.dff");
    EXPECT_EQ(first.verified_time.load(), 0u);
    // A size as a string of digits reads the same as a bare number; none is 0.
    EXPECT_EQ(p.entries[1].size, 12345u);
    EXPECT_EQ(p.entries[2].size, 0u);
    EXPECT_EQ(p.entries[2].url, "/pc/files/$x/a_b-c.txt");
}

TEST(Manifest, LargeSizesKeepAll64Bits) {
    Parsed p = parse(doc("/b", entry("big", HASH_A, "6442450944")));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.entries[0].size, 6442450944ull);
}

TEST(Manifest, DamagedDocumentAsAWhole) {
    const std::string files = entry("a.bin", HASH_A, "1");
    for (const std::string& text : {
             std::string("{\"files\":[" + files + "]}"),  // no basePath
             doc("pc/files", files),                     // no leading slash
             doc("/pc:files", files),                    // colon
             doc("/pc/../etc", files),
             doc("/pc//files", files),
             std::string("{\"basePath\":\"/pc\",\"list\":[" + files + "]}"),  // no "files"
         }) {
        Parsed p = parse(text);
        EXPECT_FALSE(p.ok) << text;
        EXPECT_EQ(p.error, DAMAGED) << text;
    }
}

TEST(Manifest, DamagedEntryIsNamed) {
    struct Case {
        std::string entries;
        std::string named;
    };
    const std::string base300(290, 'b');
    for (const Case& c : std::vector<Case>{
             {entry("/abs.bin", HASH_A, "1"), "/abs.bin"},          // "//" after basePath
             {entry("a/../../x", HASH_A, "1"), "a/../../x"},        // climbs out
             {entry("with space", HASH_A, "1"), "with space"},
             {entry("back\\\\slash", HASH_A, "1"), "back\\\\slash"},
             {entry("кириллица.txt", HASH_A, "1"), "кириллица.txt"},
             {entry("short.bin", std::string(63, 'a'), "1"), "short.bin"},
             {entry("long.bin", std::string(65, 'a'), "1"), "long.bin"},
             {"{\"hash\":\"" + HASH_A + "\"}", ""},  // no url
             // A nested object cuts the entry before its hash.
             {"{\"url\":\"n.bin\",\"meta\":{\"x\":1},\"hash\":\"" + HASH_A + "\",\"size\":1}",
              "n.bin"},
         }) {
        Parsed p = parse(doc("/pc", entry("good.bin", HASH_A, "1") + "," + c.entries));
        EXPECT_FALSE(p.ok) << c.entries;
        EXPECT_EQ(p.error, "Список файлов на сервере повреждён (" + c.named + ").") << c.entries;
    }
    // The full server path must stay within 300 bytes.
    Parsed p = parse(doc("/" + base300, entry(std::string(9, 'c'), HASH_A, "1")));
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, "Список файлов на сервере повреждён (ccccccccc).");
    p = parse(doc("/" + base300, entry(std::string(8, 'c'), HASH_A, "1")));
    EXPECT_TRUE(p.ok) << p.error;
}

TEST(Manifest, NoEntriesAndUnclosedEntries) {
    for (const std::string& text : {doc("/pc", ""), std::string("{\"basePath\":\"/pc\",\"files\"")}) {
        Parsed p = parse(text);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.error, "На сервере пока нет файлов игры.");
    }
    // A "{" without a "}" ends the scan; what came before stands.
    Parsed p = parse("{\"basePath\":\"/pc\",\"files\":[" + entry("a", HASH_A, "1") +
                     ",{\"url\":\"b\",\"hash\":\"" + HASH_A);
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.entries.size(), 1u);
    EXPECT_EQ(p.entries[0].path, "a");
}

}  // namespace
