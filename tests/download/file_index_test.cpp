// The local file index on disk and the classification of one entry against it.
#include <gtest/gtest.h>

#include "launcher/download/file_index.h"
#include "test_support.h"

namespace {

const std::string HASH_A(64, 'a');
const std::string HASH_B(64, 'b');

class FileIndexTest : public ::testing::Test {
protected:
    TempDir dir{L"index"};
    std::wstring index_path = dir.file(L"korval_files.idx");

    ManifestEntry make_entry(const std::string& path, uint64_t size, const std::string& hash) {
        ManifestEntry e;
        e.path = path;
        e.url = "/pc/" + path;
        e.size = size;
        e.hash = hash;
        e.local_path = dir.file(utf8_to_wide_local(path));
        return e;
    }
    static std::wstring utf8_to_wide_local(const std::string& s) {
        return std::wstring(s.begin(), s.end());
    }
};

TEST_F(FileIndexTest, LoadSkipsMalformedLinesAndKeepsTheLastDuplicate) {
    std::string text;
    text += "a.bin\t10\t20\t" + HASH_A + "\n";
    text += "three\t1\t2\n";                         // three fields
    text += "nonnum\tx1\t2\t" + HASH_A + "\n";       // size not numeric
    text += "\t1\t2\t" + HASH_A + "\n";              // empty path
    text += std::string(600, 'p') + "\t1\t2\t" + HASH_A + "\n";  // path over 599 bytes
    text += "dir/b.bin\t5\t6\t" + HASH_B + "\r\n";   // CR is not part of the hash
    text += "a.bin\t11\t21\t" + HASH_B + "\n";       // the later line wins
    text += "last\t7\t8\t" + HASH_A;                 // no final line feed
    ASSERT_TRUE(write_file(index_path, text));

    FileIndex index = load_file_index(index_path);
    ASSERT_EQ(index.size(), 3u);
    EXPECT_EQ(index["a.bin"].size, 11u);
    EXPECT_EQ(index["a.bin"].time, 21u);
    EXPECT_EQ(index["a.bin"].hash, HASH_B);
    EXPECT_EQ(index["dir/b.bin"].hash, HASH_B);
    EXPECT_EQ(index["last"].time, 8u);

    EXPECT_TRUE(load_file_index(dir.file(L"missing.idx")).empty());
}

TEST_F(FileIndexTest, OverlongPhysicalLineIsReadInPieces) {
    // 1023 bytes of junk, then (as the second piece) a well-formed record:
    // each piece of at most 1023 bytes is judged as a line of its own.
    std::string junk(1023, 'j');
    std::string text = junk + "tail.bin\t3\t4\t" + HASH_A + "\nok.bin\t1\t2\t" + HASH_A + "\n";
    ASSERT_TRUE(write_file(index_path, text));
    FileIndex index = load_file_index(index_path);
    EXPECT_EQ(index.count("tail.bin"), 1u);
    EXPECT_EQ(index.count("ok.bin"), 1u);
    EXPECT_EQ(index.size(), 2u);
}

TEST_F(FileIndexTest, SaveWritesVerifiedEntriesInManifestOrder) {
    std::vector<ManifestEntry> entries;
    entries.push_back(make_entry("z.bin", 3, HASH_A));
    entries.push_back(make_entry("skipped.bin", 4, HASH_A));
    entries.push_back(make_entry("a/b.bin", 5000000000ull, HASH_B));
    entries[0].verified_time.store(133000000000000000ull);
    entries[2].verified_time.store(7);
    ASSERT_TRUE(write_file(index_path, "old\t1\t1\t" + HASH_A + "\n"));

    save_file_index(index_path, entries);
    EXPECT_EQ(read_file(index_path), "z.bin\t3\t133000000000000000\t" + HASH_A + "\n" +
                                         "a/b.bin\t5000000000\t7\t" + HASH_B + "\n");
    EXPECT_FALSE(file_exists(index_path + L".tmp"));
    FileIndex back = load_file_index(index_path);
    EXPECT_EQ(back["a/b.bin"].size, 5000000000ull);

    // Nothing verified: an empty index replaces the old one.
    entries[0].verified_time.store(0);
    entries[2].verified_time.store(0);
    save_file_index(index_path, entries);
    EXPECT_TRUE(file_exists(index_path));
    EXPECT_EQ(read_file(index_path), "");
}

TEST_F(FileIndexTest, SaveThatCannotWriteKeepsTheOldIndex) {
    const std::string old = "keep\t1\t1\t" + HASH_A + "\n";
    ASSERT_TRUE(write_file(index_path, old));
    // A folder in the way of the temp file.
    ASSERT_TRUE(CreateDirectoryW((index_path + L".tmp").c_str(), nullptr));
    std::vector<ManifestEntry> entries;
    entries.push_back(make_entry("new", 1, HASH_B));
    entries[0].verified_time.store(5);
    save_file_index(index_path, entries);
    EXPECT_EQ(read_file(index_path), old);
}

TEST_F(FileIndexTest, ClassifyTrustsOnlyWhatTheIndexVouchesFor) {
    ManifestEntry e = make_entry("f.bin", 4, HASH_A);
    FileIndex index;
    EXPECT_EQ(classify_entry(e, index).kind, EntryClass::NeedsDownload);  // missing

    ASSERT_TRUE(write_file(e.local_path, "abc"));
    EXPECT_EQ(classify_entry(e, index).kind, EntryClass::NeedsDownload);  // wrong size

    ASSERT_TRUE(write_file(e.local_path, "abcd"));
    FileState state = query_file_state(e.local_path);
    ASSERT_TRUE(state.exists);
    EXPECT_EQ(state.size, 4u);
    EXPECT_EQ(classify_entry(e, index).kind, EntryClass::NeedsHash);  // never verified

    index["f.bin"] = IndexRecord{4, state.time, HASH_A};
    Classification c = classify_entry(e, index);
    EXPECT_EQ(c.kind, EntryClass::Trusted);
    EXPECT_EQ(c.time, state.time);

    index["f.bin"].hash = HASH_B;  // verified against an older manifest
    EXPECT_EQ(classify_entry(e, index).kind, EntryClass::NeedsDownload);

    index["f.bin"] = IndexRecord{4, state.time + 1, HASH_A};  // touched since
    EXPECT_EQ(classify_entry(e, index).kind, EntryClass::NeedsHash);

    // A folder where the file should be is no file.
    DeleteFileW(e.local_path.c_str());
    ASSERT_TRUE(CreateDirectoryW(e.local_path.c_str(), nullptr));
    EXPECT_FALSE(query_file_state(e.local_path).exists);
    EXPECT_EQ(classify_entry(e, index).kind, EntryClass::NeedsDownload);
}

}  // namespace
