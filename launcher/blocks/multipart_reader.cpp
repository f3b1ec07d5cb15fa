#include "launcher/blocks/multipart_reader.h"

namespace {

const size_t MAX_BOUNDARY = 70;
const size_t MAX_HEADER_LINE = 1024;
const size_t MAX_HEADERS = 16;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool starts_with_nocase(const std::string& text, size_t at, const char* prefix) {
    for (size_t i = 0; prefix[i]; ++i)
        if (at + i >= text.size() || lower(text[at + i]) != prefix[i]) return false;
    return true;
}

bool boundary_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string("'()+_,-./:=? ").find(c) != std::string::npos;
}

bool at_text(const std::string& body, size_t at, const std::string& text) {
    return body.size() >= at && body.size() - at >= text.size() &&
           body.compare(at, text.size(), text) == 0;
}

// A decimal number of at most 19 digits starting at `at`; `at` moves past it.
bool read_number(const std::string& text, size_t& at, uint64_t& value) {
    value = 0;
    const size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 19)
        value = value * 10 + static_cast<uint64_t>(text[at++] - '0');
    return at > start && (at >= text.size() || text[at] < '0' || text[at] > '9');
}

// "bytes A-B/SIZE" or "bytes A-B/*", A <= B < file_size.
bool read_content_range(const std::string& value, uint64_t file_size, BodyPart& part) {
    size_t at = 0;
    while (at < value.size() && value[at] == ' ') ++at;
    if (!starts_with_nocase(value, at, "bytes ")) return false;
    at += 6;
    uint64_t first = 0;
    uint64_t last = 0;
    if (!read_number(value, at, first) || at >= value.size() || value[at++] != '-' ||
        !read_number(value, at, last) || at >= value.size() || value[at++] != '/')
        return false;
    if (at < value.size() && value[at] == '*') {
        ++at;
    } else {
        uint64_t size = 0;
        if (!read_number(value, at, size) || size != file_size) return false;
    }
    while (at < value.size() && value[at] == ' ') ++at;
    if (at != value.size() || first > last || last >= file_size) return false;
    part.offset = first;
    part.length = last - first + 1;
    return true;
}

// The header lines of one part from `at` up to and past the empty line.
bool read_part_headers(const std::string& body, size_t& at, uint64_t file_size, BodyPart& part,
                       std::string& error) {
    bool have_range = false;
    for (size_t count = 0;; ++count) {
        const size_t end = body.find("\r\n", at);
        if (end == std::string::npos || end - at > MAX_HEADER_LINE || count > MAX_HEADERS) {
            error = "a part's headers do not end";
            return false;
        }
        const std::string line = body.substr(at, end - at);
        at = end + 2;
        if (line.empty()) break;
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) {
            error = "a part's header line is not a header";
            return false;
        }
        if (colon == 13 && starts_with_nocase(line, 0, "content-range")) {
            if (have_range || !read_content_range(line.substr(colon + 1), file_size, part)) {
                error = "a part's Content-Range is wrong: " + line.substr(0, 80);
                return false;
            }
            have_range = true;
        }
    }
    if (!have_range) error = "a part without Content-Range";
    return have_range;
}

}  // namespace

bool byteranges_boundary(const std::string& content_type, std::string& boundary) {
    boundary.clear();
    size_t at = 0;
    while (at < content_type.size() && content_type[at] == ' ') ++at;
    if (!starts_with_nocase(content_type, at, "multipart/byteranges")) return false;
    at += 20;
    for (;;) {
        while (at < content_type.size() && (content_type[at] == ' ' || content_type[at] == ';'))
            ++at;
        if (at >= content_type.size()) break;
        const size_t end = content_type.find(';', at);
        const std::string parameter =
            content_type.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (starts_with_nocase(parameter, 0, "boundary=")) {
            std::string value = parameter.substr(9);
            while (!value.empty() && value.back() == ' ') value.pop_back();
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            boundary = value;
        }
        if (end == std::string::npos) break;
        at = end;
    }
    if (boundary.empty() || boundary.size() > MAX_BOUNDARY || boundary.back() == ' ') {
        boundary.clear();
        return false;
    }
    for (char c : boundary)
        if (!boundary_char(c)) {
            boundary.clear();
            return false;
        }
    return true;
}

bool read_byteranges(const std::string& body, const std::string& boundary, uint64_t file_size,
                     size_t max_parts, std::vector<BodyPart>& parts, std::string& error) {
    parts.clear();
    const std::string delimiter = "--" + boundary;
    size_t at = at_text(body, 0, "\r\n") ? 2 : 0;
    if (boundary.empty() || !at_text(body, at, delimiter)) {
        error = "the body does not start with its boundary";
        return false;
    }
    at += delimiter.size();
    for (;;) {
        if (at_text(body, at, "--")) {
            at += 2;
            // The epilogue is for other readers; only a line end may follow.
            if (parts.empty() || !(at == body.size() || (at_text(body, at, "\r\n") &&
                                                          at + 2 == body.size()))) {
                error = parts.empty() ? "no parts" : "bytes after the last part";
                return false;
            }
            return true;
        }
        if (!at_text(body, at, "\r\n")) {
            error = "a delimiter is not followed by a line end";
            return false;
        }
        at += 2;
        if (parts.size() == max_parts) {
            error = "more parts than ranges asked";
            return false;
        }
        BodyPart part;
        if (!read_part_headers(body, at, file_size, part, error)) return false;
        if (body.size() - at < part.length) {
            error = "a part is shorter than its Content-Range";
            return false;
        }
        part.at = at;
        at += static_cast<size_t>(part.length);
        if (!at_text(body, at, "\r\n" + delimiter)) {
            error = "a part does not end where its Content-Range says";
            return false;
        }
        at += 2 + delimiter.size();
        parts.push_back(part);
    }
}

bool locate_ranges(const std::vector<BodyPart>& parts, const std::vector<ByteRange>& asked,
                   std::vector<size_t>& at, std::string& error) {
    at.assign(asked.size(), 0);
    for (size_t i = 0; i < asked.size(); ++i) {
        const ByteRange& range = asked[i];
        bool found = false;
        for (const BodyPart& part : parts) {
            if (part.offset <= range.offset &&
                range.offset + range.length <= part.offset + part.length) {
                at[i] = part.at + static_cast<size_t>(range.offset - part.offset);
                found = true;
                break;
            }
        }
        if (!found) {
            error = "no part holds bytes " + std::to_string(range.offset) + "-" +
                    std::to_string(range.offset + range.length - 1);
            return false;
        }
    }
    return true;
}
