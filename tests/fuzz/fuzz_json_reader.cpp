// The content server's documents as the field reader sees them: any bytes,
// any field name, and the path check on whatever comes out.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "launcher/net/json_reader.h"

namespace {

const char* const FIELDS[] = {"basePath", "files", "url", "hash", "size",
                              "version",  "sha256", "", "\""};

void check_path_rule(const std::string& path) {
    if (!is_safe_server_path(path)) return;
    FUZZ_CHECK(!path.empty() && path.size() <= 300 && path[0] == '/');
    FUZZ_CHECK(path.find("..") == std::string::npos && path.find("//") == std::string::npos);
    for (unsigned char c : path) FUZZ_CHECK(c > ' ' && c < 0x7F && c != '\\' && c != ':');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = fuzz_text(data, size);
    for (const char* name : FIELDS) {
        const std::string value = json_field(text, name);
        // Raw bytes of the document: never longer, always found in it.
        FUZZ_CHECK(value.size() <= text.size());
        FUZZ_CHECK(text.find(value) != std::string::npos);
        check_path_rule(value);
    }
    check_path_rule(text);
    return 0;
}
