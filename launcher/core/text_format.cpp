#include "text_format.h"

#include <cstdio>
#include <cstring>

#include <windows.h>

#include "launcher/session/text_convert.h"

namespace {

// Formats one conversion whose complete directive (from '%' to the letter,
// length modifiers removed and the C type fixed by the caller) is `directive`.
template <typename T>
void append_one(std::string& out, const std::string& directive, T value) {
    char small[64];
    int n = std::snprintf(small, sizeof small, directive.c_str(), value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), directive.c_str(), value);
    out.append(big.data(), static_cast<size_t>(n));
}

enum class Length { none, hh, h, l, ll, z, j, t, L };

}  // namespace

std::string format_text_v(const char* format, va_list args_in) {
    va_list args;
    va_copy(args, args_in);
    std::string out;
    const char* p = format;
    while (*p) {
        if (*p != '%') {
            const char* next = std::strchr(p, '%');
            size_t n = next ? static_cast<size_t>(next - p) : std::strlen(p);
            out.append(p, n);
            p += n;
            continue;
        }
        const char* start = p++;
        if (*p == '%') {
            out.push_back('%');
            ++p;
            continue;
        }
        // Flags, width and precision are kept in the directive; '*' takes an int.
        std::string directive = "%";
        while (*p && std::strchr("-+ #0", *p)) directive.push_back(*p++);
        if (*p == '*') {
            directive += std::to_string(va_arg(args, int));
            ++p;
        }
        while (*p >= '0' && *p <= '9') directive.push_back(*p++);
        if (*p == '.') {
            directive.push_back(*p++);
            if (*p == '*') {
                directive += std::to_string(va_arg(args, int));
                ++p;
            }
            while (*p >= '0' && *p <= '9') directive.push_back(*p++);
        }
        Length length = Length::none;
        if (p[0] == 'h' && p[1] == 'h') { length = Length::hh; p += 2; }
        else if (p[0] == 'h') { length = Length::h; ++p; }
        else if (p[0] == 'l' && p[1] == 'l') { length = Length::ll; p += 2; }
        else if (p[0] == 'l') { length = Length::l; ++p; }
        else if (p[0] == 'z') { length = Length::z; ++p; }
        else if (p[0] == 'j') { length = Length::j; ++p; }
        else if (p[0] == 't') { length = Length::t; ++p; }
        else if (p[0] == 'L') { length = Length::L; ++p; }
        // The Microsoft spellings: I64 and I32 fixed, I as wide as a pointer.
        else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') { length = Length::ll; p += 3; }
        else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') { length = Length::none; p += 3; }
        else if (p[0] == 'I') { length = sizeof(void*) == 8 ? Length::ll : Length::none; ++p; }

        char conv = *p;
        if (conv == '\0') {
            out.append(start);
            break;
        }
        ++p;
        switch (conv) {
        case 'd':
        case 'i':
            if (length == Length::ll || length == Length::j)
                append_one(out, directive + "lld", va_arg(args, long long));
            else if (length == Length::z || length == Length::t)
                append_one(out, directive + "lld", static_cast<long long>(va_arg(args, ptrdiff_t)));
            else if (length == Length::l)
                append_one(out, directive + "lld", static_cast<long long>(va_arg(args, long)));
            else append_one(out, directive + "d", va_arg(args, int));  // int, short, char
            break;
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            std::string tail(1, conv);
            if (length == Length::ll || length == Length::j)
                append_one(out, directive + "ll" + tail, va_arg(args, unsigned long long));
            else if (length == Length::z || length == Length::t)
                append_one(out, directive + "ll" + tail,
                           static_cast<unsigned long long>(va_arg(args, size_t)));
            else if (length == Length::l)
                append_one(out, directive + "ll" + tail,
                           static_cast<unsigned long long>(va_arg(args, unsigned long)));
            else append_one(out, directive + tail, va_arg(args, unsigned));
            break;
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (length == Length::L)
                append_one(out, directive + conv, static_cast<double>(va_arg(args, long double)));
            else append_one(out, directive + conv, va_arg(args, double));
            break;
        case 'c':
            append_one(out, directive + "c", va_arg(args, int));
            break;
        case 'p':
            append_one(out, directive + "p", va_arg(args, void*));
            break;
        case 's':
            if (length == Length::l) {
                const wchar_t* w = va_arg(args, const wchar_t*);
                std::string narrow = w ? wide_to_narrow(w, CP_ACP) : std::string("(null)");
                append_one(out, directive + "s", narrow.c_str());
            } else {
                const char* s = va_arg(args, const char*);
                append_one(out, directive + "s", s ? s : "(null)");
            }
            break;
        default:
            // The size of its argument is unknown, so every later argument
            // would be read from the wrong place: the rest of the text stands
            // as written, and no argument is taken any more. (%n lands here
            // too, on purpose.) The compiler refuses such formats anyway.
            out.append(start);
            va_end(args);
            return out;
        }
    }
    va_end(args);
    return out;
}

std::string format_text(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = format_text_v(format, args);
    va_end(args);
    return out;
}
