#include "json_writer.h"

std::string json_quote(const std::string& text) {
    static const char HEX[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20) {
            // Always the long form: the page's parser needs no special cases.
            out += "\\u00";
            out.push_back(HEX[c >> 4]);
            out.push_back(HEX[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out.push_back('"');
    return out;
}
