#include "version_record.h"

#include "build_config.h"
#include "launcher/net/json_reader.h"
#include "launcher/session/text_convert.h"

namespace {

// Reads the number at `p` (0 when there are no digits) and moves past it and
// past one following dot.
uint64_t next_component(const char*& p) {
    uint64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value < 100000000000000000ull) value = value * 10 + static_cast<uint64_t>(*p - '0');
        ++p;
    }
    if (*p == '.') ++p;
    return value;
}

}  // namespace

UpdateRecord read_update_record(const std::string& text) {
    UpdateRecord record;
    record.version = json_field(text, "version");
    record.url = json_field(text, "url");
    record.sha256 = json_field(text, "sha256");
    record.size = parse_unsigned32(json_field(text, "size"));
    return record;
}

uint32_t parse_unsigned32(const std::string& text) {
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(value);
}

bool is_valid_version(const std::string& version) {
    if (version.empty() || version.size() > 20) return false;
    for (char c : version)
        if (!(c >= '0' && c <= '9') && c != '.') return false;
    return true;
}

int compare_versions(const char* latest, const char* current) {
    for (int component = 0; component < 4; ++component) {
        uint64_t a = next_component(latest);
        uint64_t b = next_component(current);
        if (a != b) return a > b ? 1 : -1;
    }
    return 0;
}

std::string content_base_url() {
    std::string base = "https://";
    base += wide_to_narrow(KORVAL_CONTENT_HOST);
    if (KORVAL_CONTENT_PORT != 443) base += ":" + std::to_string(KORVAL_CONTENT_PORT);
    return base + "/";
}

std::string resolve_update_path(const std::string& url) {
    const std::string base = content_base_url();
    if (url.compare(0, base.size(), base) == 0) return url.substr(base.size() - 1);
    if (url.find("://") != std::string::npos) return std::string();
    if (!url.empty() && url[0] != '/') return std::string("/pc/launcher/").append(url);
    return url;
}
