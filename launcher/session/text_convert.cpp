#include "text_convert.h"

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
