#pragma once
// The launcher version record "/pc/launcher/latest.json": its fields, the
// version comparison and the resolution of its download address.
#include <cstdint>
#include <string>

struct UpdateRecord {
    std::string version;  // dotted decimal
    std::string url;      // as written in the record
    std::string sha256;   // 64 hex digits, any case
    uint32_t size = 0;    // bytes of the new executable
};

const uint32_t MAX_LAUNCHER_BYTES = 268435456;

// Reads the four fields; an absent field is empty (size 0).
UpdateRecord read_update_record(const std::string& text);

// 1 to 20 characters, each a digit or a dot.
bool is_valid_version(const std::string& version);

// Compares up to four numeric components: >0 when `latest` is newer than
// `current`, 0 when equal, <0 when older. Missing components read as 0.
int compare_versions(const char* latest, const char* current);

// The content server's base address, "https://host/" (with ":port" when the
// build uses another port than 443).
std::string content_base_url();

// The server path of a record's url: the base address stripped, other hosts
// refused (empty), a bare file name placed under "/pc/launcher/".
std::string resolve_update_path(const std::string& url);

// Unsigned base-10 number up to the first non-digit; saturates instead of
// wrapping, so an oversized value can never pass as a small one.
uint32_t parse_unsigned32(const std::string& text);
