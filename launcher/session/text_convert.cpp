#include "text_convert.h"

#include <cstdint>

namespace {

// The length of the valid UTF-8 sequence that starts at `p` (1 to 4), or 0
// when none does: a continuation byte, a lead byte without its continuations,
// an overlong form, a surrogate or a code point past U+10FFFF.
size_t utf8_sequence_length(const unsigned char* p, size_t left) {
    static const uint32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
    const unsigned char lead = p[0];
    if (lead < 0x80) return 1;
    size_t length = 0;
    if ((lead & 0xE0) == 0xC0) length = 2;
    else if ((lead & 0xF0) == 0xE0) length = 3;
    else if ((lead & 0xF8) == 0xF0) length = 4;
    else return 0;
    if (left < length) return 0;
    uint32_t code = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < SMALLEST[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

}  // namespace

std::wstring utf8_to_wide(const std::string& text, UINT code_page) {
    if (text.empty()) return std::wstring();
    // Length -1: the system converts up to and including the first zero, so an
    // embedded zero ends the text exactly as it would for a C string.
    int needed = MultiByteToWideChar(code_page, 0, text.c_str(), -1, nullptr, 0);
    if (needed <= 1) return std::wstring();
    std::wstring out(static_cast<size_t>(needed), L'\0');
    int written = MultiByteToWideChar(code_page, 0, text.c_str(), -1, out.data(), needed);
    if (written <= 0) return std::wstring();
    out.resize(static_cast<size_t>(written - 1));
    return out;
}

std::string wide_to_narrow(const std::wstring& text, UINT code_page) {
    if (text.empty()) return std::string();
    int needed = WideCharToMultiByte(code_page, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 1) return std::string();
    std::string out(static_cast<size_t>(needed), '\0');
    int written = WideCharToMultiByte(code_page, 0, text.c_str(), -1, out.data(), needed,
                                      nullptr, nullptr);
    if (written <= 0) return std::string();
    out.resize(static_cast<size_t>(written - 1));
    return out;
}

std::string utf8_to_ansi(const std::string& text) {
    return wide_to_narrow(utf8_to_wide(text, CP_UTF8), CP_ACP);
}

std::string ansi_to_utf8(const std::string& text) {
    return wide_to_narrow(utf8_to_wide(text, CP_ACP), CP_UTF8);
}

std::string mixed_text_to_utf8(const std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    // The ANSI bytes of the line so far. ASCII joins a run once it is open (it
    // reads the same either way, and a double-byte code page's second byte may
    // be ASCII), so a line of ANSI text is one conversion. Zero and the line
    // end close it: ansi_to_utf8 would stop at a zero.
    std::string ansi;
    for (size_t i = 0; i < text.size();) {
        const size_t length = utf8_sequence_length(bytes + i, text.size() - i);
        const bool ends_run = length > 1 || bytes[i] == '\n' || bytes[i] == 0;
        if (!ends_run && (length == 0 || !ansi.empty())) {
            ansi.push_back(text[i++]);
            continue;
        }
        if (!ansi.empty()) {
            out += ansi_to_utf8(ansi);
            ansi.clear();
        }
        out.append(text, i, length);
        i += length;
    }
    if (!ansi.empty()) out += ansi_to_utf8(ansi);
    return out;
}
