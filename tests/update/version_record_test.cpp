// The version record's rules: version comparison, address resolution, numbers.
#include <gtest/gtest.h>

#include "launcher/update/version_record.h"

namespace {

TEST(VersionRecord, VersionsCompareNumerically) {
    EXPECT_GT(compare_versions("1.10", "1.9"), 0);
    EXPECT_LT(compare_versions("1.9", "1.10"), 0);
    EXPECT_EQ(compare_versions("1.2", "1.2.0"), 0);
    EXPECT_EQ(compare_versions("1.2.0.0", "1.2"), 0);
    EXPECT_GT(compare_versions("0.1.5", "0.1.4"), 0);
    EXPECT_LT(compare_versions("0.1.3", "0.1.4"), 0);
    EXPECT_GT(compare_versions("2", "1.99.99"), 0);
    // Only four components count.
    EXPECT_EQ(compare_versions("1.2.3.4.5", "1.2.3.4.9"), 0);
    // Numbers too long for any integer still compare without wrapping.
    EXPECT_GT(compare_versions("99999999999999999999", "1"), 0);
    EXPECT_EQ(compare_versions("1..2", "1.0.2"), 0) << "an empty component reads as 0";
}

TEST(VersionRecord, VersionText) {
    EXPECT_TRUE(is_valid_version("0.1.5"));
    EXPECT_TRUE(is_valid_version("12345678901234567890"));
    EXPECT_FALSE(is_valid_version("123456789012345678901")) << "21 characters";
    EXPECT_FALSE(is_valid_version(""));
    EXPECT_FALSE(is_valid_version("0.1.5a"));
    EXPECT_FALSE(is_valid_version("v1"));
    EXPECT_FALSE(is_valid_version("1 .2"));
}

TEST(VersionRecord, AddressResolution) {
    const std::string base = content_base_url();
    EXPECT_EQ(base.rfind("https://", 0), 0u);
    EXPECT_EQ(resolve_update_path("korval_launcher.exe"), "/pc/launcher/korval_launcher.exe");
    EXPECT_EQ(resolve_update_path(base + "pc/launcher/v/k.exe"), "/pc/launcher/v/k.exe");
    EXPECT_EQ(resolve_update_path("/pc/other/k.exe"), "/pc/other/k.exe");
    EXPECT_EQ(resolve_update_path("https://elsewhere.example/pc/k.exe"), "");
    EXPECT_EQ(resolve_update_path("ftp://x/y"), "");
    EXPECT_EQ(resolve_update_path("sub/dir://x"), "") << "\"://\" anywhere is refused";
    EXPECT_EQ(resolve_update_path(""), "");
}

TEST(VersionRecord, FieldsAndNumbers) {
    UpdateRecord r = read_update_record(
        R"({"sha256":"AB","size":"1024","url":"k.exe","version":"0.2","extra":[1,2]})");
    EXPECT_EQ(r.version, "0.2");
    EXPECT_EQ(r.url, "k.exe");
    EXPECT_EQ(r.sha256, "AB");
    EXPECT_EQ(r.size, 1024u) << "a quoted size reads like a bare one";
    EXPECT_EQ(read_update_record("{}").size, 0u);

    EXPECT_EQ(parse_unsigned32("268435457"), 268435457u);
    EXPECT_EQ(parse_unsigned32("12abc"), 12u);
    EXPECT_EQ(parse_unsigned32("-5"), 0u);
    // Oversized values saturate: 2^32 + 1 must not pass as 1.
    EXPECT_EQ(parse_unsigned32("4294967297"), 4294967295u);
    EXPECT_EQ(parse_unsigned32("99999999999999999999999"), 4294967295u);
}

}  // namespace
