#pragma once
// The printf-style formatter behind the log. It exists because the C runtime
// converts %ls through the C locale, which loses every non-ASCII character of
// a path; here %ls goes through the ANSI code page like every other path.
#include <cstdarg>
#include <string>

// Supports %s, %ls, %c, %d, %i, %u, %o, %x, %X, %p, %f, %F, %e, %E, %g, %G,
// %a, %A and %% with flags, field width and precision, and the length
// modifiers h, hh, l, ll, z, j, t, L and Microsoft's I, I32 and I64. At a
// conversion it does not know the rest of the format is copied as it stands
// and no further argument is read; the build refuses such formats (-Werror=format).
std::string format_text_v(const char* format, va_list args);

std::string format_text(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
