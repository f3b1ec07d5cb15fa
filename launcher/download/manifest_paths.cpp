#include "launcher/download/manifest_paths.h"

#include "launcher/core/device_names.h"

#include <vector>

namespace {

const char PART_SUFFIX[] = ".part";
// The index's own name and the one it is written under before its move.
const char* const OWN_FILES[] = {"korval_files.idx", "korval_files.idx.tmp"};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::vector<std::string> components(const std::string& key) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t slash = key.find('/', start);
        parts.push_back(key.substr(start, slash == std::string::npos ? slash : slash - start));
        if (slash == std::string::npos) return parts;
        start = slash + 1;
    }
}

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string windows_path_key(const std::string& path) {
    std::string key;
    for (const std::string& component : components(path)) {
        std::string name;
        for (char c : component) name.push_back(lower(c));
        while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
        key += name;
        key.push_back('/');
    }
    key.pop_back();
    return key;
}

bool is_installable_path(const std::string& path) {
    const std::string key = windows_path_key(path);
    for (const std::string& component : components(key))
        if (component.empty() || is_device_name(component)) return false;
    if (ends_with(key, PART_SUFFIX)) return false;
    for (const char* own : OWN_FILES)
        if (key == own) return false;
    return true;
}

bool claim_install_path(InstallPaths& paths, const std::string& path) {
    const std::string key = windows_path_key(path);
    if (paths.files.count(key) != 0 || paths.folders.count(key) != 0) return false;
    std::vector<std::string> folders;
    for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
        folders.push_back(key.substr(0, slash));
        if (paths.files.count(folders.back()) != 0) return false;
    }
    paths.files.insert(key);
    paths.folders.insert(folders.begin(), folders.end());
    return true;
}
