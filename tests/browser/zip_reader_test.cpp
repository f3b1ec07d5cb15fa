// The page archive's ZIP reader against archives of other writers, and
// against damaged archives, which must fail and never read out of bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launcher/browser/zip_reader.h"
#ifdef _WIN32
#include "launcher/session/text_convert.h"
#include "test_support.h"
#else
#include <fstream>
#include <iterator>
#endif

namespace {

// The fixtures lie beside the test program; the native sanitizer build is
// told their folder.
std::string fixture(const char* name) {
#ifdef _WIN32
    return read_file(exe_dir() + L"\\zip_fixtures\\" + utf8_to_wide(name));
#else
    std::ifstream file(std::string(KORVAL_ZIP_FIXTURES) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
#endif
}

std::string long_text() {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

// The entry's bytes, or "<none>" when the reader refuses.
std::string extract(mz_zip_archive& zip, const char* name) {
    size_t size = 12345;
    void* block = mz_zip_reader_extract_file_to_heap(&zip, name, &size, 0);
    if (!block) return "<none>";
    std::string out(static_cast<const char*>(block), size);
    mz_free(block);
    return out;
}

std::string extract_from(const std::string& archive, const char* name) {
    mz_zip_archive zip{};
    if (!mz_zip_reader_init_mem(&zip, archive.data(), archive.size(), 0)) return "<no archive>";
    std::string out = extract(zip, name);
    EXPECT_TRUE(mz_zip_reader_end(&zip));
    return out;
}

size_t find_signature(const std::string& archive, const char* signature, size_t from = 0) {
    return archive.find(std::string(signature, 4), from);
}

void put_u32(std::string& archive, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) archive[at + i] = static_cast<char>(value >> (8 * i));
}

const char CENTRAL[] = "PK\x01\x02";
const char END[] = "PK\x05\x06";

}  // namespace

TEST(ZipReader, ReadsStoredAndDeflatedEntriesOfOtherWriters) {
    for (const char* name : {"python.zip", "cmake.zip"}) {
        SCOPED_TRACE(name);
        std::string archive = fixture(name);
        ASSERT_FALSE(archive.empty());
        EXPECT_EQ(extract_from(archive, "hello.txt"), "Hello, archive!\n");
        EXPECT_EQ(extract_from(archive, "notes/long.txt"), long_text());
        EXPECT_EQ(extract_from(archive, "empty.txt"), "");
        EXPECT_EQ(extract_from(archive, "missing.txt"), "<none>");
        EXPECT_EQ(extract_from(archive, "notes"), "<none>");
        EXPECT_EQ(extract_from(archive, "long.txt"), "<none>");  // the full name counts
    }
    EXPECT_EQ(extract_from(fixture("python.zip"), "data.bin").size(), 256u);
}

#ifdef _WIN32
TEST(ZipReader, ReadsTheSameArchiveFromAFile) {
    std::string path = wide_to_narrow(exe_dir() + L"\\zip_fixtures\\python.zip", CP_ACP);
    mz_zip_archive zip{};
    ASSERT_TRUE(mz_zip_reader_init_file(&zip, path.c_str(), 0));
    EXPECT_EQ(zip.m_total_files, 6u);
    EXPECT_EQ(extract(zip, "notes/long.txt"), long_text());
    EXPECT_EQ(extract(zip, "HELLO.TXT"), "Hello, archive!\n");
    EXPECT_TRUE(mz_zip_reader_end(&zip));
    EXPECT_FALSE(mz_zip_reader_end(&zip));

    mz_zip_archive none{};
    EXPECT_FALSE(mz_zip_reader_init_file(&none, (path + ".missing").c_str(), 0));
}

#endif

TEST(ZipReader, LooksNamesUpWithoutRegardToLetterCase) {
    std::string archive = fixture("python.zip");
    EXPECT_EQ(extract_from(archive, "Notes/LONG.txt"), long_text());
    // Two names that differ only in case: the first in the directory wins.
    EXPECT_EQ(extract_from(archive, "case.txt"), "first");
    EXPECT_EQ(extract_from(archive, "CASE.TXT"), "first");
    EXPECT_EQ(extract_from(archive, "case.tx"), "<none>");
    EXPECT_EQ(extract_from(archive, "case.txtx"), "<none>");
}

TEST(ZipReader, RefusesARecordThatIsAlreadyOpen) {
    std::string archive = fixture("python.zip");
    mz_zip_archive zip{};
    ASSERT_TRUE(mz_zip_reader_init_mem(&zip, archive.data(), archive.size(), 0));
    EXPECT_FALSE(mz_zip_reader_init_mem(&zip, archive.data(), archive.size(), 0));
    EXPECT_TRUE(mz_zip_reader_end(&zip));
    size_t size = 7;
    EXPECT_EQ(mz_zip_reader_extract_file_to_heap(&zip, "hello.txt", &size, 0), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST(ZipReader, DamagedEntriesFailAndTheirNeighboursStillRead) {
    const std::string good = fixture("python.zip");
    ASSERT_FALSE(good.empty());
    size_t hello_data = 30 + 9;  // first local header, name "hello.txt"
    ASSERT_EQ(good.compare(hello_data, 6, "Hello,"), 0);
    size_t central = find_signature(good, CENTRAL);
    ASSERT_NE(central, std::string::npos);

    {   // A changed byte of stored data no longer matches the CRC-32.
        std::string archive = good;
        archive[hello_data] = 'J';
        EXPECT_EQ(extract_from(archive, "hello.txt"), "<none>");
        EXPECT_EQ(extract_from(archive, "notes/long.txt"), long_text());
    }
    {   // A wrong CRC-32 in the directory.
        std::string archive = good;
        put_u32(archive, central + 16, 0x12345678);
        EXPECT_EQ(extract_from(archive, "hello.txt"), "<none>");
    }
    {   // An unsupported method (bzip2).
        std::string archive = good;
        archive[central + 10] = 12;
        EXPECT_EQ(extract_from(archive, "hello.txt"), "<none>");
    }
    {   // Sizes beyond the archive, for a stored entry.
        std::string archive = good;
        put_u32(archive, central + 20, 0x7FFFFFF0);
        put_u32(archive, central + 24, 0x7FFFFFF0);
        EXPECT_EQ(extract_from(archive, "hello.txt"), "<none>");
    }
    {   // A deflated entry that claims more output than its data gives.
        size_t long_central = find_signature(good, CENTRAL, central + 4);
        std::string archive = good;
        put_u32(archive, long_central + 24, static_cast<uint32_t>(long_text().size() + 1));
        EXPECT_EQ(extract_from(archive, "notes/long.txt"), "<none>");
        put_u32(archive, long_central + 24, static_cast<uint32_t>(long_text().size() - 1));
        EXPECT_EQ(extract_from(archive, "notes/long.txt"), "<none>");
    }
    {   // A local header offset pointing at the directory itself.
        std::string archive = good;
        put_u32(archive, central + 42, static_cast<uint32_t>(central));
        EXPECT_EQ(extract_from(archive, "hello.txt"), "<no archive>");
    }
    {   // A directory that claims more entries than it holds.
        std::string archive = good;
        size_t end = find_signature(good, END);
        archive[end + 8] = archive[end + 10] = 7;
        EXPECT_EQ(extract_from(archive, "hello.txt"), "<no archive>");
    }
}

TEST(ZipReader, EveryTruncationAndEveryFlippedByteFailsCleanly) {
    const std::string good = fixture("python.zip");
    ASSERT_FALSE(good.empty());
    // A cut anywhere loses the end record or leaves a directory that runs past
    // the end: the archive does not open.
    for (size_t length = 0; length < good.size(); ++length) {
        std::string cut = good.substr(0, length);
        mz_zip_archive zip{};
        bool opened = mz_zip_reader_init_mem(&zip, cut.data(), cut.size(), 0);
        EXPECT_FALSE(opened) << "length " << length;
        if (opened) mz_zip_reader_end(&zip);
    }
    // A flipped byte either leaves the entries intact or makes them fail;
    // a copy in its own allocation lets a read past the end show.
    const char* names[] = {"hello.txt", "notes/long.txt", "data.bin"};
    std::string wants[3];
    for (int i = 0; i < 3; ++i) wants[i] = extract_from(good, names[i]);
    for (size_t at = 0; at < good.size(); ++at) {
        std::string damaged = good;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
        for (int i = 0; i < 3; ++i) {
            std::string got = extract_from(damaged, names[i]);
            if (got != "<none>" && got != "<no archive>") {
                EXPECT_EQ(got, wants[i]) << "byte " << at;
            }
        }
    }
}
