// The page server's rules on any address: which page file answers it, with
// what type, and whether the override folder may be asked. The file is then
// looked up in the built page archive, as the launcher would serve it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_check.h"
#include "launcher/browser/ui_request_rules.h"
#include "launcher/browser/zip_reader.h"
#include "launcher/core/device_names.h"

namespace {

std::vector<unsigned char> page_archive;

void check_override_rule(const std::string& path) {
    if (!may_read_override(path)) return;
    FUZZ_CHECK(path.find(':') == std::string::npos);
    for (size_t start = 0, end; start <= path.size(); start = end + 1) {
        end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        FUZZ_CHECK(!is_device_name(path.substr(start, end - start)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* path = std::getenv("KORVAL_PAGE_ARCHIVE");
    std::ifstream file(path ? path : KORVAL_DEFAULT_PAGE_ARCHIVE, std::ios::binary);
    page_archive.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (page_archive.empty()) std::fprintf(stderr, "fuzz_ui_request: no page archive, rules only\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string url = fuzz_text(data, size);
    const UiRequestTarget target = ui_request_target(url);
    if (target.status != 0) {
        FUZZ_CHECK(target.status == 400 && target.path.empty());
        return 0;
    }
    const std::string& path = target.path;
    FUZZ_CHECK(url.compare(0, sizeof UI_ORIGIN - 1, UI_ORIGIN) == 0);
    FUZZ_CHECK(!path.empty() && path.back() != '/');
    FUZZ_CHECK(path.find("..") == std::string::npos && path.find('\\') == std::string::npos);
    FUZZ_CHECK(path.find('\0') == std::string::npos);
    FUZZ_CHECK(path.find_first_of("?#") == std::string::npos);
    FUZZ_CHECK(mime_type_for(path) != nullptr);
    check_override_rule(path);

    if (page_archive.empty()) return 0;
    mz_zip_archive zip{};
    FUZZ_CHECK(mz_zip_reader_init_mem(&zip, page_archive.data(), page_archive.size(), 0));
    size_t body_size = 0;
    void* body = mz_zip_reader_extract_file_to_heap(&zip, path.c_str(), &body_size, 0);
    if (body) mz_free(body);
    FUZZ_CHECK(mz_zip_reader_end(&zip));
    return 0;
}
