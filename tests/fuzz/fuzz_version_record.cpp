// The launcher version record "latest.json": its four fields, the version
// rule, the comparison (an order: antisymmetric and reflexive) and the
// address resolution, which never leaves the content server.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "launcher/update/version_record.h"

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = fuzz_text(data, size);
    const UpdateRecord record = read_update_record(text);

    if (is_valid_version(record.version)) {
        FUZZ_CHECK(record.version.size() >= 1 && record.version.size() <= 20);
        const char* a = record.version.c_str();
        FUZZ_CHECK(compare_versions(a, a) == 0);
        for (const char* b : {"0.1.4", "0.1.4.0", "99999999999999999999", ""})
            FUZZ_CHECK(sign(compare_versions(a, b)) == -sign(compare_versions(b, a)));
    }
    // The record's whole text as two versions, split at its middle.
    const std::string first = text.substr(0, text.size() / 2);
    const std::string second = text.substr(text.size() / 2);
    FUZZ_CHECK(sign(compare_versions(first.c_str(), second.c_str())) ==
               -sign(compare_versions(second.c_str(), first.c_str())));

    const std::string path = resolve_update_path(record.url);
    FUZZ_CHECK(path.empty() || path[0] == '/');
    // An address of any other host is never fetched.
    if (record.url.find("://") != std::string::npos &&
        record.url.rfind(content_base_url(), 0) != 0)
        FUZZ_CHECK(path.empty());
    (void)parse_unsigned32(text);
    return 0;
}
