#include "ui_request_rules.h"

#include "launcher/core/device_names.h"

namespace {

struct MimeRow {
    const char* extension;
    const char* type;
};
const MimeRow MIME_TYPES[] = {
    {"html", "text/html"},         {"htm", "text/html"},          {"js", "text/javascript"},
    {"mjs", "text/javascript"},    {"css", "text/css"},           {"json", "application/json"},
    {"png", "image/png"},          {"jpg", "image/jpeg"},         {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},          {"webp", "image/webp"},        {"svg", "image/svg+xml"},
    {"woff", "font/woff"},         {"woff2", "font/woff2"},       {"ttf", "font/ttf"},
    {"mp3", "audio/mpeg"},         {"ogg", "audio/ogg"},          {"wasm", "application/wasm"},
};

bool names_a_device(const std::string& path) {
    for (size_t start = 0, end; start <= path.size(); start = end + 1) {
        end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (is_device_name(path.substr(start, end - start))) return true;
    }
    return false;
}

}  // namespace

UiRequestTarget ui_request_target(const std::string& url) {
    UiRequestTarget target;
    const size_t origin_length = sizeof UI_ORIGIN - 1;
    if (url.size() < origin_length || url.compare(0, origin_length, UI_ORIGIN) != 0) {
        target.status = 400;
        return target;
    }
    std::string path = url.substr(origin_length);
    path = path.substr(0, path.find_first_of("?#"));
    if (path.empty() || path.back() == '/') path += "index.html";
    // An embedded zero would cut the name short in the file and archive calls.
    if (path.find("..") != std::string::npos || path.find('\\') != std::string::npos ||
        path.find('\0') != std::string::npos) {
        target.status = 400;
        return target;
    }
    target.path = std::move(path);
    return target;
}

bool may_read_override(const std::string& path) {
    return !names_a_device(path) && path.find(':') == std::string::npos;
}

const char* mime_type_for(std::string_view path) {
    size_t dot = path.rfind('.');
    if (dot != std::string_view::npos) {
        std::string extension(path.substr(dot + 1));
        for (char& c : extension)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        for (const MimeRow& row : MIME_TYPES)
            if (extension == row.extension) return row.type;
    }
    return "application/octet-stream";
}
