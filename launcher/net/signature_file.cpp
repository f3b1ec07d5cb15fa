#include "signature_file.h"

namespace {

const char FORMAT_LINE[] = "korval-signature 1";
const char DOCUMENT_PREFIX[] = "document ";
const char RELEASE_PREFIX[] = "release ";
const char SIGNATURE_PREFIX[] = "signature ";
const size_t KEY_ID_DIGITS = 16;
const size_t SIGNATURE_DIGITS = 128;
const size_t MAX_SIGNATURES = 2;
const uint64_t MAX_RELEASE = 0x7fffffffffffffffull;

bool is_lower_hex(const std::string& text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return !text.empty();
}

bool starts_with(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The lines of `text`, each without its line feed and a carriage return
// before it. False when a line holds anything but printable ASCII.
bool split_lines(const std::string& text, std::vector<std::string>& lines) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        for (char c : line)
            if (c < 0x20 || c > 0x7e) return false;
        lines.push_back(line);
        start = end + 1;
    }
    return true;
}

// A decimal without sign or leading zero, within 1 .. 2^63-1.
bool read_release(const std::string& digits, uint64_t& release) {
    if (digits.empty() || digits.size() > 19 || digits[0] == '0') return false;
    uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > MAX_RELEASE) return false;
    release = value;
    return true;
}

bool read_signature_line(const std::string& line, SignatureLine& out) {
    if (!starts_with(line, SIGNATURE_PREFIX)) return false;
    const std::string rest = line.substr(std::char_traits<char>::length(SIGNATURE_PREFIX));
    const size_t blank = rest.find(' ');
    if (blank != KEY_ID_DIGITS) return false;
    out.key_id = rest.substr(0, blank);
    out.signature = rest.substr(blank + 1);
    return is_lower_hex(out.key_id) && out.signature.size() == SIGNATURE_DIGITS &&
           is_lower_hex(out.signature);
}

}  // namespace

bool hex_to_bytes(const std::string& hex, std::vector<unsigned char>& bytes) {
    if (hex.size() % 2 != 0 || (!hex.empty() && !is_lower_hex(hex))) return false;
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
        bytes.push_back(static_cast<unsigned char>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
    }
    return true;
}

bool read_document_signature(const std::string& text, DocumentSignature& out, std::string& error) {
    out = DocumentSignature();
    if (text.size() > SIGNATURE_FILE_LIMIT) {
        error = "signature file larger than " + std::to_string(SIGNATURE_FILE_LIMIT) + " bytes";
        return false;
    }
    std::vector<std::string> lines;
    if (!split_lines(text, lines)) {
        error = "signature file is not plain text";
        return false;
    }
    if (lines.size() < 4 || lines[0] != FORMAT_LINE) {
        error = "not a signature file";
        return false;
    }
    if (!starts_with(lines[1], DOCUMENT_PREFIX) ||
        lines[1].size() == std::char_traits<char>::length(DOCUMENT_PREFIX)) {
        error = "signature file names no document";
        return false;
    }
    out.document = lines[1].substr(std::char_traits<char>::length(DOCUMENT_PREFIX));
    if (!starts_with(lines[2], RELEASE_PREFIX) ||
        !read_release(lines[2].substr(std::char_traits<char>::length(RELEASE_PREFIX)),
                      out.release)) {
        error = "bad release number in the signature file";
        return false;
    }
    out.header = lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n";
    for (size_t i = 3; i < lines.size(); ++i) {
        SignatureLine signature;
        if (!read_signature_line(lines[i], signature) || out.signatures.size() == MAX_SIGNATURES) {
            error = "bad signature line " + std::to_string(i + 1);
            return false;
        }
        out.signatures.push_back(signature);
    }
    return true;
}
