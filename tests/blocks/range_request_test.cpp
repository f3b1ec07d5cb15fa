// Requests for many ranges: the batches a plan's ranges go out in, what a
// gap is worth on the link, and the strict reading of the multipart answer
// (its input comes from the network).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/blocks/multipart_reader.h"
#include "launcher/blocks/range_batches.h"

namespace {

const uint64_t SIZE = 100000;

std::string part(const std::string& boundary, const std::string& range, const std::string& data) {
    return "\r\n--" + boundary + "\r\nContent-Type: application/octet-stream\r\nContent-Range: " +
           range + "\r\n\r\n" + data;
}

std::string closing(const std::string& boundary) { return "\r\n--" + boundary + "--\r\n"; }

bool reads(const std::string& body, std::vector<BodyPart>& parts, std::string& error,
           size_t max_parts = 8) {
    return read_byteranges(body, "B0", SIZE, max_parts, parts, error);
}

}  // namespace

TEST(RangeBatches, RangesGoOutInBoundedBatchesAndGapsArePricedByTheLink) {
    // Neither more ranges nor more bytes than a batch holds; a long range is
    // cut, and the pieces still cover it once, in order.
    std::vector<ByteRange> fetches;
    for (uint64_t i = 0; i < 10; ++i) fetches.push_back(ByteRange{i * 1000, 10});
    fetches.push_back(ByteRange{20000, 2500});
    std::vector<RangeBatch> batches;
    make_range_batches(fetches, 4, 1000, batches);
    ASSERT_EQ(batches.size(), 5u);
    EXPECT_EQ(batches[0].ranges.size(), 4u);
    EXPECT_EQ(batches[2].ranges.size(), 3u);  // two small ranges and the first 980 bytes
    uint64_t next = 20000;
    for (const RangeBatch& batch : batches) {
        EXPECT_LE(batch.bytes, 1000u);
        for (const ByteRange& range : batch.ranges)
            if (range.offset >= 20000) {
                EXPECT_EQ(range.offset, next);
                next += range.length;
            }
    }
    EXPECT_EQ(next, 22500u);
    EXPECT_EQ(range_spec({ByteRange{0, 1}, ByteRange{10, 5}}), "0-0,10-14");

    // 50 ms at 12.5 MB/s is worth 625 KB as a request of its own, a 64th of
    // that as one part among many; the price never makes a batch too large,
    // and an unmeasured link keeps the old guess.
    EXPECT_EQ(gap_price_bytes(625000, false), 524288u);
    EXPECT_EQ(gap_price_bytes(625000, true), PART_HEADER_BYTES + 625000 / 64);
    EXPECT_EQ(gap_price_bytes(20, false), 20u);
    EXPECT_EQ(gap_price_bytes(0, true), 16384u);
}

TEST(Multipart, OnlyAnAnswerOfExactlyItsPartsIsTaken) {
    std::string boundary;
    EXPECT_TRUE(byteranges_boundary("multipart/byteranges; boundary=00000000001", boundary));
    EXPECT_EQ(boundary, "00000000001");
    EXPECT_TRUE(byteranges_boundary("Multipart/ByteRanges;boundary=\"a b\"; x=y", boundary));
    EXPECT_EQ(boundary, "a b");
    for (const char* refused :
         {"application/octet-stream", "multipart/byteranges", "multipart/byteranges; boundary=",
          "multipart/byteranges; boundary=a\x01", "multipart/mixed; boundary=x"})
        EXPECT_FALSE(byteranges_boundary(refused, boundary)) << refused;

    // Parts in any order, the total size or "*", a part that joins two
    // ranges asked: each range is found in the part that holds it.
    const std::string body = part("B0", "bytes 500-504/100000", "fghij") +
                             part("B0", "bytes 0-3/*", "abcd") + closing("B0");
    std::vector<BodyPart> parts;
    std::string error;
    ASSERT_TRUE(reads(body, parts, error)) << error;
    ASSERT_EQ(parts.size(), 2u);
    std::vector<size_t> at;
    ASSERT_TRUE(locate_ranges(parts, {ByteRange{0, 4}, ByteRange{500, 2}, ByteRange{503, 2}}, at,
                              error));
    EXPECT_EQ(body.substr(at[0], 4), "abcd");
    EXPECT_EQ(body.substr(at[2], 2), "ij");
    // A range no part holds whole.
    EXPECT_FALSE(locate_ranges(parts, {ByteRange{3, 2}}, at, error));
    EXPECT_FALSE(locate_ranges(parts, {ByteRange{1000, 1}}, at, error));

    // Whatever does not add up is refused as a whole.
    const std::string one = part("B0", "bytes 0-3/100000", "abcd");
    const struct {
        const char* why;
        std::string body;
    } wrong[] = {
        {"part shorter than its range", part("B0", "bytes 0-4/100000", "abcd") + closing("B0")},
        {"part longer than its range", part("B0", "bytes 0-2/100000", "abcd") + closing("B0")},
        {"no Content-Range", "\r\n--B0\r\nContent-Type: x\r\n\r\nabcd" + closing("B0")},
        {"two Content-Ranges",
         "\r\n--B0\r\nContent-Range: bytes 0-3/100000\r\nContent-Range: bytes 0-3/100000\r\n\r\n"
         "abcd" + closing("B0")},
        {"range past the file", part("B0", "bytes 99999-100002/100000", "abcd") + closing("B0")},
        {"another file's size", part("B0", "bytes 0-3/99999", "abcd") + closing("B0")},
        {"last before first", part("B0", "bytes 3-0/100000", "abcd") + closing("B0")},
        {"number too long", part("B0", "bytes 00000000000000000000-3/100000", "abcd") +
                                closing("B0")},
        {"another boundary", one + closing("B1")},
        {"not closed", one + "\r\n--B0"},
        {"text before the first delimiter", "preamble" + one + closing("B0")},
        {"bytes after the close", one + closing("B0") + "more"},
        {"no parts", closing("B0")},
        {"headers that never end", "\r\n--B0\r\nContent-Range: bytes 0-3/100000"},
    };
    for (const auto& c : wrong) {
        error.clear();
        EXPECT_FALSE(reads(c.body, parts, error)) << c.why;
        EXPECT_FALSE(error.empty()) << c.why;
    }
    // More parts than ranges asked: a server cannot make the launcher keep
    // reading parts it never asked for.
    EXPECT_FALSE(reads(one + one + closing("B0"), parts, error, 1));
    EXPECT_TRUE(reads(one + one + closing("B0"), parts, error, 2));
}
