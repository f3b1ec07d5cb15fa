// The game file manifest: whatever the server sends, an accepted manifest
// only names files inside the install folder, each once as Windows resolves
// names, with a full digest.
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "fuzz_check.h"
#include "launcher/blocks/block_map.h"
#include "launcher/download/manifest.h"
#include "launcher/download/manifest_paths.h"
#include "launcher/net/json_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = fuzz_text(data, size);
    const std::wstring install_dir = L"C:\\Games\\KORVAL";
    std::vector<ManifestEntry> entries;
    std::string error;
    const bool ok = parse_manifest(text, install_dir, entries, error);
    FUZZ_CHECK(ok == error.empty());
    if (!ok) return 0;

    FUZZ_CHECK(!entries.empty());
    std::set<std::string> keys;
    for (const ManifestEntry& entry : entries) {
        FUZZ_CHECK(entry.hash.size() == 64);
        FUZZ_CHECK(is_safe_server_path(entry.url));
        FUZZ_CHECK(!entry.path.empty() && entry.path[0] != '/');
        FUZZ_CHECK(entry.path.find("..") == std::string::npos);
        FUZZ_CHECK(is_installable_path(entry.path));
        FUZZ_CHECK(keys.insert(windows_path_key(entry.path)).second);
        FUZZ_CHECK(entry.local_path.compare(0, install_dir.size() + 1, install_dir + L"\\") == 0);
        FUZZ_CHECK(entry.local_path.find(L'/') == std::wstring::npos);
        // A block description, when named, can only be one of this file.
        if (!entry.blocks.url.empty()) {
            FUZZ_CHECK(is_safe_server_path(entry.blocks.url));
            FUZZ_CHECK(entry.blocks.hash.size() == 64);
            FUZZ_CHECK(entry.blocks.size != 0 &&
                       entry.blocks.size ==
                           block_map_shape(entry.size, entry.blocks.block_size).bytes);
        }
    }
    return 0;
}
