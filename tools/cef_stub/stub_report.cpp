// The stand-in's record of what it was given, its scenario, and the runtime's
// text functions.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "stub.h"

namespace {

HMODULE stub_module = nullptr;
CRITICAL_SECTION report_lock;
bool api_hash_called = false;
bool order_checked = false;
volatile LONG texts = 0;
volatile LONG userfree_texts = 0;

std::string report_path() { return stub_folder() + "\\stub_report.txt"; }

void free_utf16(char16_t* str) {
    std::free(str);
    InterlockedDecrement(&texts);
}
void free_utf8(char* str) {
    std::free(str);
    InterlockedDecrement(&texts);
}

Scenario read_scenario() {
    Scenario s;
    std::ifstream in(stub_folder() + "\\stub_scenario.txt", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line == "initialize fail")
            s.initialize_fails = true;
        else if (line == "create_browser fail")
            s.create_browser_fails = true;
        else if (line.rfind("execute_process_result ", 0) == 0) {
            s.has_execute_result = true;
            s.execute_result = std::atoi(line.c_str() + 23);
        } else
            s.steps.push_back(line);
    }
    return s;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        stub_module = instance;
        InitializeCriticalSection(&report_lock);
        // A fresh report for every process that loads this copy.
        DeleteFileA(report_path().c_str());
    }
    return TRUE;
}

std::string stub_folder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(stub_module, path, MAX_PATH);
    std::string p(path, n);
    return p.substr(0, p.find_last_of("\\/"));
}

const Scenario& scenario() {
    static const Scenario s = read_scenario();
    return s;
}

void report(const char* format, ...) {
    char buffer[8192];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::string line;
    if (n >= static_cast<int>(sizeof buffer)) {
        line.resize(n + 1);
        va_start(args, format);
        std::vsnprintf(line.data(), line.size(), format, args);
        va_end(args);
        line.resize(n);
    } else if (n > 0) {
        line.assign(buffer, n);
    }
    EnterCriticalSection(&report_lock);
    if (FILE* f = std::fopen(report_path().c_str(), "ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fputc('\n', f);
        std::fclose(f);
    }
    LeaveCriticalSection(&report_lock);
}

std::string escape(std::string_view bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c == '\\')
            out += "\\\\";
        else if (c >= 0x20 && c < 0x7f)
            out += static_cast<char>(c);
        else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

void note_call(const char* name) {
    if (std::string_view(name) == "cef_api_hash") api_hash_called = true;
    if (order_checked) return;
    order_checked = true;
    if (!api_hash_called) report("!! %s called before cef_api_hash", name);
}

std::string utf8_of(const cef_string_t* text) {
    if (!text || !text->str || !text->length) return {};
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text->str);
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text->length), nullptr, 0,
                                nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text->length), out.data(), n, nullptr,
                        nullptr);
    return out;
}

void set_text(cef_string_t& text, std::string_view utf8) {
    text = cef_string_t{};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    text.str = static_cast<char16_t*>(std::calloc(n + 1, sizeof(char16_t)));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                        reinterpret_cast<wchar_t*>(text.str), n);
    text.length = n;
    text.dtor = free_utf16;
    InterlockedIncrement(&texts);
}

void clear_text(cef_string_t& text) {
    if (text.dtor && text.str) text.dtor(text.str);
    text = cef_string_t{};
}

cef_string_userfree_t new_userfree_text(std::string_view utf8) {
    cef_string_userfree_t text = static_cast<cef_string_userfree_t>(std::calloc(1, sizeof(cef_string_t)));
    set_text(*text, utf8);
    InterlockedIncrement(&userfree_texts);
    return text;
}

long live_texts() { return InterlockedCompareExchange(&texts, 0, 0); }
long live_userfree_texts() { return InterlockedCompareExchange(&userfree_texts, 0, 0); }

// ---- the runtime's text exports -----------------------------------------------------

STUB_EXPORT int cef_string_utf8_to_utf16(const char* src, size_t src_len, cef_string_t* output) {
    note_call("cef_string_utf8_to_utf16");
    if (!output) return 0;
    clear_text(*output);
    set_text(*output, std::string_view(src ? src : "", src ? src_len : 0));
    return 1;
}

STUB_EXPORT int cef_string_utf16_to_utf8(const char16_t* src, size_t src_len,
                                         cef_string_utf8_t* output) {
    note_call("cef_string_utf16_to_utf8");
    if (!output) return 0;
    if (output->dtor && output->str) output->dtor(output->str);
    cef_string_t in{const_cast<char16_t*>(src), src ? src_len : 0, nullptr};
    std::string bytes = utf8_of(&in);
    output->str = static_cast<char*>(std::calloc(bytes.size() + 1, 1));
    std::copy(bytes.begin(), bytes.end(), output->str);
    output->length = bytes.size();
    output->dtor = free_utf8;
    InterlockedIncrement(&texts);
    return 1;
}

STUB_EXPORT void cef_string_utf16_clear(cef_string_t* str) {
    note_call("cef_string_utf16_clear");
    if (str) clear_text(*str);
}

STUB_EXPORT void cef_string_utf8_clear(cef_string_utf8_t* str) {
    note_call("cef_string_utf8_clear");
    if (!str) return;
    if (str->dtor && str->str) str->dtor(str->str);
    *str = cef_string_utf8_t{};
}

#ifndef STUB_LACKING_EXPORTS
STUB_EXPORT void cef_string_userfree_utf16_free(cef_string_userfree_t str) {
    note_call("cef_string_userfree_utf16_free");
    if (!str) return;
    clear_text(*str);
    std::free(str);
    InterlockedDecrement(&userfree_texts);
}
#endif
