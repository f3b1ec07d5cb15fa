#include "json_reader.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool is_path_byte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '/' || c == '_' || c == '$';
}

}  // namespace

size_t find_member_colon(const std::string& text, const std::string& name) {
    const std::string key = "\"" + name + "\"";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        size_t after = at + key.size();
        while (after < text.size() && is_blank(text[after])) ++after;
        if (after < text.size() && text[after] == ':') return after;
    }
    return std::string::npos;
}

std::string json_field(const std::string& text, const char* name) {
    size_t colon = find_member_colon(text, name);
    if (colon == std::string::npos) return std::string();

    size_t start = colon + 1;
    while (start < text.size() && is_blank(text[start])) ++start;
    if (start >= text.size()) return std::string();

    if (text[start] == '"') {
        size_t close = text.find('"', start + 1);
        if (close == std::string::npos) return std::string();
        return text.substr(start + 1, close - start - 1);
    }
    size_t end = start;
    while (end < text.size() && text[end] != ',' && text[end] != '}' && !is_blank(text[end])) ++end;
    return text.substr(start, end - start);
}

bool is_safe_server_path(const std::string& path) {
    if (path.empty() || path.size() > 300 || path[0] != '/') return false;
    if (path.find("..") != std::string::npos || path.find("//") != std::string::npos) return false;
    for (unsigned char c : path)
        if (!is_path_byte(c)) return false;
    return true;
}
