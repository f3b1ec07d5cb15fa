// The text conversions for the native build of the document readers. On
// Windows the system converts; here wchar_t holds code points, and both code
// pages read as UTF-8, which is all the readers pass through them. Malformed
// bytes become U+FFFD, as the system's conversion makes of them.
#include "launcher/session/text_convert.h"

namespace {

const wchar_t REPLACEMENT = 0xFFFD;

// The code point at `i`, moving `i` past it.
wchar_t decode_one(const std::string& text, size_t& i) {
    const unsigned char lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) return static_cast<wchar_t>(lead);
    int more = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
    if (more < 0 || lead > 0xF4) return REPLACEMENT;
    unsigned value = lead & (0x3F >> more);
    for (int k = 0; k < more; ++k) {
        if (i >= text.size()) return REPLACEMENT;
        const unsigned char next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) return REPLACEMENT;
        value = (value << 6) | (next & 0x3F);
        ++i;
    }
    const bool overlong = (more == 2 && value < 0x800) || (more == 3 && value < 0x10000);
    if (overlong || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return REPLACEMENT;
    return static_cast<wchar_t>(value);
}

void encode_one(unsigned value, std::string& out) {
    if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = 0xFFFD;
    if (value < 0x80) {
        out.push_back(static_cast<char>(value));
    } else if (value < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (value >> 6)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else if (value < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (value >> 12)));
        out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (value >> 18)));
        out.push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    }
}

}  // namespace

std::wstring utf8_to_wide(const std::string& text, UINT) {
    std::wstring out;
    for (size_t i = 0; i < text.size() && text[i] != '\0';) out.push_back(decode_one(text, i));
    return out;
}

std::string wide_to_narrow(const std::wstring& text, UINT) {
    std::string out;
    for (wchar_t c : text) {
        if (c == L'\0') break;
        encode_one(static_cast<unsigned>(c), out);
    }
    return out;
}

std::string utf8_to_ansi(const std::string& text) { return wide_to_narrow(utf8_to_wide(text)); }
std::string ansi_to_utf8(const std::string& text) { return wide_to_narrow(utf8_to_wide(text)); }
