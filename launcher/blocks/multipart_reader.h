#pragma once
// Reads a server's answer to a request for several ranges of one file: a
// 206 whose body is multipart/byteranges, each part a Content-Range and
// that many bytes. The body comes from the network and is read strictly: a
// part whose bytes do not end at a delimiter, a range outside the file, a
// missing or second Content-Range, anything before the first delimiter but
// a line end: the whole answer is refused, and the caller asks again one
// range at a time.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/blocks/block_plan.h"

struct BodyPart {
    uint64_t offset = 0;  // in the file
    uint64_t length = 0;
    size_t at = 0;        // where its bytes start in the body
};

// The boundary of a "multipart/byteranges; boundary=..." Content-Type
// (quoted or not); false for any other type or a boundary the multipart
// rules do not allow (empty, longer than 70, outside their characters).
bool byteranges_boundary(const std::string& content_type, std::string& boundary);

// The parts of `body`, in the order the server sent them, for a file of
// `file_size` bytes; at most `max_parts`.
bool read_byteranges(const std::string& body, const std::string& boundary, uint64_t file_size,
                     size_t max_parts, std::vector<BodyPart>& parts, std::string& error);

// Where each range asked for lies in the body: in a part that holds it
// whole, whatever the parts' order (a server may also join ranges into one
// part). False when one of them is in none.
bool locate_ranges(const std::vector<BodyPart>& parts, const std::vector<ByteRange>& asked,
                   std::vector<size_t>& at, std::string& error);
