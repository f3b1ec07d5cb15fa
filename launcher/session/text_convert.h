#pragma once
// Conversions between the launcher's three encodings: UTF-8 toward the page and
// server documents, the system ANSI code page for paths handed to the SA-MP
// client and CreateProcessA, and UTF-16 for every file, registry and WinHTTP call.
// The log holds the first two side by side.
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
// The document readers also build natively, for the fuzzers and sanitizer
// runs; there the code pages keep their Windows numbers.
typedef unsigned int UINT;
#define CP_ACP 0
#define CP_UTF8 65001
#endif

// Bytes of `code_page` (CP_UTF8 or CP_ACP) to UTF-16. The text ends at its
// first zero byte; an empty input gives an empty result without a system call.
std::wstring utf8_to_wide(const std::string& text, UINT code_page = CP_UTF8);

// UTF-16 to `code_page`. Characters the ANSI code page lacks become its
// default character.
std::string wide_to_narrow(const std::wstring& text, UINT code_page = CP_UTF8);

std::string utf8_to_ansi(const std::string& text);
std::string ansi_to_utf8(const std::string& text);

// A text that mixes UTF-8 and the ANSI code page, as the log's lines do, in
// UTF-8 alone: every valid UTF-8 sequence stays as it is, and every other byte
// (a stray continuation, a cut or overlong sequence, a surrogate) is read in
// the ANSI code page. ANSI letters that happen to form valid UTF-8 (in 1251,
// a capital letter before "ё", "«" or "№") read as UTF-8: rare in a log.
std::string mixed_text_to_utf8(const std::string& text);
