// A server's answer to a request for several ranges: the first line is the
// Content-Type, the rest the body, of a file of FILE_SIZE bytes. A body
// taken is exactly its parts: each within the file and the body, its bytes
// followed by the next delimiter, and written back in the server's format
// it reads as the same parts. Every range located lies within its part.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "launcher/blocks/multipart_reader.h"

namespace {

const uint64_t FILE_SIZE = 1000000;
const size_t MAX_PARTS = 64;

std::string written_back(const std::string& body, const std::vector<BodyPart>& parts,
                         const std::string& boundary) {
    std::string out;
    for (const BodyPart& part : parts) {
        out += "\r\n--" + boundary + "\r\nContent-Range: bytes " + std::to_string(part.offset) +
               "-" + std::to_string(part.offset + part.length - 1) + "/" +
               std::to_string(FILE_SIZE) + "\r\n\r\n";
        out.append(body, part.at, static_cast<size_t>(part.length));
    }
    return out + "\r\n--" + boundary + "--\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = fuzz_text(data, size);
    const size_t line_end = input.find('\n');
    if (line_end == std::string::npos) return 0;
    std::string boundary;
    if (!byteranges_boundary(input.substr(0, line_end), boundary)) return 0;
    FUZZ_CHECK(!boundary.empty() && boundary.size() <= 70);
    const std::string body = input.substr(line_end + 1);
    std::vector<BodyPart> parts;
    std::string error;
    if (!read_byteranges(body, boundary, FILE_SIZE, MAX_PARTS, parts, error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(!parts.empty() && parts.size() <= MAX_PARTS);
    std::vector<ByteRange> asked;
    for (const BodyPart& part : parts) {
        FUZZ_CHECK(part.length > 0 && part.offset + part.length <= FILE_SIZE);
        FUZZ_CHECK(part.at <= body.size() && body.size() - part.at >= part.length);
        FUZZ_CHECK(body.compare(static_cast<size_t>(part.at + part.length), 4 + boundary.size(),
                                "\r\n--" + boundary) == 0);
        asked.push_back(ByteRange{part.offset + part.length / 2, part.length - part.length / 2});
    }
    std::vector<BodyPart> again;
    FUZZ_CHECK(read_byteranges(written_back(body, parts, boundary), boundary, FILE_SIZE, MAX_PARTS,
                               again, error));
    FUZZ_CHECK(again.size() == parts.size());
    for (size_t i = 0; i < parts.size(); ++i)
        FUZZ_CHECK(again[i].offset == parts[i].offset && again[i].length == parts[i].length);
    std::vector<size_t> at;
    FUZZ_CHECK(locate_ranges(parts, asked, at, error));
    for (size_t i = 0; i < asked.size(); ++i)
        FUZZ_CHECK(at[i] + asked[i].length <= body.size());
    return 0;
}
