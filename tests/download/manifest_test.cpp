// The manifest parser: what it accepts, what it refuses and with which text.
#include <vector>

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

// The block description's members come all together and agree with the
// entry's size; an entry without them reads as before.
TEST(Manifest, BlockDescriptionMembers) {
    const std::string upper(64, 'B');
    const auto described = [&](const std::string& members) {
        return doc("/pc/r1", "{\"hash\":\"" + HASH_A + "\",\"size\":4097," + members +
                                 "\"url\":\"models/gta3.img\"}");
    };
    const std::string good = "\"blocksUrl\":\"models/gta3.img.blocks\",\"blocksSize\":46,"
                             "\"blocksHash\":\"" + upper + "\",\"blockSize\":2048,";
    Parsed p = parse(described(good));
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.entries[0].url, "/pc/r1/models/gta3.img");
    EXPECT_EQ(p.entries[0].blocks.url, "/pc/r1/models/gta3.img.blocks");
    EXPECT_EQ(p.entries[0].blocks.size, 46u);
    EXPECT_EQ(p.entries[0].blocks.hash, std::string(64, 'b'));
    EXPECT_EQ(p.entries[0].blocks.block_size, 2048u);
    p = parse(described(""));
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_TRUE(p.entries[0].blocks.url.empty());

    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string members = good;
        members.replace(members.find(from), from.size(), to);
        return members;
    };
    for (const std::string& members : {
             replaced("\"blocksUrl\":\"models/gta3.img.blocks\",", ""),  // three of four
             replaced("\"blocksSize\":46", "\"blocksSize\":47"),        // not this file's
             replaced("\"blockSize\":2048", "\"blockSize\":3072"),      // no power of two
             replaced("\"blockSize\":2048", "\"blockSize\":256"),
             replaced("\"blockSize\":2048", "\"blockSize\":4294969344"),  // 2^32 + 2048
             replaced("models/gta3.img.blocks", "../gta3.img.blocks"),
             replaced("models/gta3.img.blocks", "/abs.blocks"),
             replaced(upper, std::string(63, 'b') + "g"),
             std::string("\"blockSize\":2048,"),
         }) {
        p = parse(described(members));
        EXPECT_FALSE(p.ok) << members;
        EXPECT_EQ(p.error, "Список файлов на сервере повреждён (models/gta3.img).") << members;
    }
    // 2 GiB is the most a description may cover at 2048-byte blocks, with
    // 3 + 5 bytes a block; a file one byte larger gets none.
    const auto large = [&](const std::string& size, const std::string& blocks_size) {
        return parse(doc("/pc", "{\"hash\":\"" + HASH_A + "\",\"size\":" + size +
                                    ",\"blocksUrl\":\"b.blocks\",\"blocksSize\":" + blocks_size +
                                    ",\"blocksHash\":\"" + HASH_A +
                                    "\",\"blockSize\":2048,\"url\":\"b\"}"));
    };
    EXPECT_TRUE(large("2147483648", "8388636").ok);
    EXPECT_FALSE(large("2147483649", "8388644").ok);
    EXPECT_FALSE(large("6442450944", "25165852").ok);
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

// Paths that would name one file twice on Windows, a device, or the
// launcher's own files: the first entry that does is named.
TEST(Manifest, PathsTheInstallFolderCannotHold) {
    struct Case {
        std::string earlier;  // "" when the path is refused on its own
        std::string refused;
    };
    for (const Case& c : std::vector<Case>{
             {"data/a.bin", "data/a.bin"},
             {"Data/A.bin", "data/a.BIN"},
             {"readme.txt", "readme.txt."},
             {"models/car.dff", "models./car.dff"},
             {"models/car.dff", "models/car.dff..."},
             {"", "a/./b"},
             {"x.bin", "x.bin/inner.txt"},  // a file where a folder is needed
             {"dir/inner.txt", "DIR"},
             {"", "korval_files.idx"},
             {"", "KORVAL_FILES.IDX.tmp"},
             {"", "korval_files.idx."},
             {"", "gta_sa.exe.part"},
             {"", "data/x.PART"},
             {"", "con"},
             {"", "NUL.txt"},
             {"", "aux.tar.gz"},
             {"", "data/prn/x.bin"},
             {"", "com1"},
             {"", "lpt9.dat"},
             {"", "Com5./x"},
             {"", "conout$"},
         }) {
        std::string entries = entry("first.bin", HASH_A, "1") + ",";
        if (!c.earlier.empty()) entries += entry(c.earlier, HASH_A, "1") + ",";
        Parsed p = parse(doc("/pc", entries + entry(c.refused, HASH_A, "1")));
        EXPECT_FALSE(p.ok) << c.refused;
        EXPECT_EQ(p.error, "Список файлов на сервере повреждён (" + c.refused + ").") << c.refused;
    }
    // Windows' path limits, counted after the install folder and its separator
    // (15 characters): a file's ".part" within 259, its folder within 247.
    const std::string long_name(239, 'n');
    const std::string long_folder(232, 'd');
    for (const std::string& fits : {long_name, long_folder + "/a", long_folder + "/ab.c"}) {
        Parsed p = parse(doc("/pc", entry(fits, HASH_A, "1")));
        EXPECT_TRUE(p.ok) << fits.size() << " " << p.error;
    }
    for (const std::string& too_long : {long_name + "n", long_folder + "d/a",
                                        long_folder + "/" + std::string(7, 'f')}) {
        Parsed p = parse(doc("/pc", entry("first.bin", HASH_A, "1") + "," +
                                        entry(too_long, HASH_A, "1")));
        EXPECT_FALSE(p.ok) << too_long.size();
        EXPECT_EQ(p.error, "Путь к файлу игры слишком длинный для Windows (" + too_long +
                               "). Выберите папку с более коротким путём.");
    }
    // Names that only look alike are files of their own.
    Parsed p = parse(doc("/pc", entry("a.bin", HASH_A, "1") + "," + entry("a.bin2", HASH_A, "1") +
                                    "," + entry("a/bin", HASH_A, "1") + "," +
                                    entry("console.txt", HASH_A, "1") + "," +
                                    entry("com10.bin", HASH_A, "1") + "," +
                                    entry("annul/lpt.txt", HASH_A, "1") + "," +
                                    entry("data/korval_files.idx", HASH_A, "1") + "," +
                                    entry("x.part.bin", HASH_A, "1") + "," +
                                    entry(".config/a", HASH_A, "1")));
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.entries.size(), 9u);
}

}  // namespace
