#include "launcher/download/manifest.h"

#include "launcher/blocks/block_map.h"
#include "launcher/download/manifest_paths.h"
#include "launcher/net/json_reader.h"
#include "launcher/net/signature_file.h"
#include "launcher/session/text_convert.h"

namespace {

const char DAMAGED[] = "Список файлов на сервере повреждён.";
const char NO_FILES[] = "На сервере пока нет файлов игры.";
const char TOO_LONG[] = "Путь к файлу игры слишком длинный для Windows (";
const char TOO_LONG_END[] = "). Выберите папку с более коротким путём.";

// Windows' file calls take at most 259 characters without long-path support,
// which the game's own calls never have; folders at most 247 (room for an 8.3
// name). Wine has no such limit, so only this rule keeps a deep folder from
// failing half-way through a player's download. ".part" is the longest name
// the launcher gives a file.
const size_t FILE_PATH_LIMIT = 259;
const size_t FOLDER_PATH_LIMIT = 247;
const size_t PART_SUFFIX_LENGTH = 5;

bool fits_windows_limits(const std::wstring& local_path) {
    const size_t folder_length = local_path.find_last_of(L'\\');
    return local_path.size() + PART_SUFFIX_LENGTH <= FILE_PATH_LIMIT &&
           (folder_length == std::wstring::npos || folder_length <= FOLDER_PATH_LIMIT);
}

std::string lower_ascii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::wstring local_path_of(const std::wstring& install_dir, const std::string& path) {
    std::wstring relative = utf8_to_wide(path);
    for (wchar_t& c : relative)
        if (c == L'/') c = L'\\';
    return install_dir + L"\\" + relative;
}

// The optional block description: none of its members, or all of them and
// consistent with the entry's size. A launcher that trusted half of one
// would fetch a description it can only throw away.
bool read_block_members(const std::string& object, const std::string& base_path,
                        ManifestEntry& entry) {
    const char* const members[] = {"blocksUrl", "blocksSize", "blocksHash", "blockSize"};
    bool any = false;
    for (const char* name : members)
        any = any || find_member_colon(object, name) != std::string::npos;
    if (!any) return true;
    const std::string relative = json_field(object, "blocksUrl");
    BlockMapRef& blocks = entry.blocks;
    blocks.url = base_path + "/" + relative;
    blocks.size = parse_decimal_u64(json_field(object, "blocksSize"));
    blocks.hash = lower_ascii(json_field(object, "blocksHash"));
    const uint64_t block_size = parse_decimal_u64(json_field(object, "blockSize"));
    const uint64_t expected = block_map_shape(entry.size, block_size).bytes;
    blocks.block_size = static_cast<uint32_t>(block_size);
    std::vector<unsigned char> digest;
    return !relative.empty() && is_safe_server_path("/" + relative) &&
           is_safe_server_path(blocks.url) && hex_to_bytes(blocks.hash, digest) &&
           digest.size() == 32 && expected != 0 && blocks.size == expected;
}

}  // namespace

uint64_t parse_decimal_u64(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' ||
                               text[i] == '\n'))
        ++i;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    return value;
}

bool parse_manifest(const std::string& text, const std::wstring& install_dir,
                    std::vector<ManifestEntry>& entries, std::string& error) {
    const std::string base_path = json_field(text, "basePath");
    const size_t files_at = text.find("\"files\"");
    if (files_at == std::string::npos || !is_safe_server_path(base_path)) {
        error = DAMAGED;
        return false;
    }

    bool appended = false;
    // One file per name as Windows resolves it, or two workers would write
    // the same ".part".
    InstallPaths taken;
    size_t scan = files_at;
    for (;;) {
        const size_t open = text.find('{', scan);
        if (open == std::string::npos) break;
        // Entries are flat: a nested object ends the entry at its own "}".
        const size_t close = text.find('}', open);
        if (close == std::string::npos) break;
        const std::string object = text.substr(open, close - open + 1);
        scan = close + 1;

        ManifestEntry entry;
        entry.path = json_field(object, "url");
        entry.url = base_path + "/" + entry.path;
        entry.hash = lower_ascii(json_field(object, "hash"));
        entry.size = parse_decimal_u64(json_field(object, "size"));
        // "/" + url keeps a url that starts with "/" (or climbs with "..") out:
        // local paths must stay inside the install folder.
        if (entry.path.empty() || !is_safe_server_path("/" + entry.path) ||
            entry.hash.size() != 64 || !is_safe_server_path(entry.url) ||
            !is_installable_path(entry.path) || !claim_install_path(taken, entry.path) ||
            !read_block_members(object, base_path, entry)) {
            error = std::string("Список файлов на сервере повреждён (") + entry.path + ").";
            return false;
        }
        entry.local_path = local_path_of(install_dir, entry.path);
        if (!fits_windows_limits(entry.local_path)) {
            error = TOO_LONG + entry.path + TOO_LONG_END;
            return false;
        }
        entries.push_back(std::move(entry));
        appended = true;
    }
    if (!appended) {
        error = NO_FILES;
        return false;
    }
    return true;
}
