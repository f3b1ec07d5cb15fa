#include "ui_resource_server.h"

#include <new>

#include <windows.h>

#include "launcher/core/log.h"
#include "launcher/core/win_handles.h"
#include "launcher/session/text_convert.h"
#include "ui_request_rules.h"
#include "ui_resource_handler.h"
#include "static_handler.h"
#include "zip_reader.h"

namespace {

UiSchemeFactory ui_scheme_factory;

// Larger override files fall back to the archive: the body is held in memory.
const DWORD MAX_OVERRIDE_FILE = 64u * 1024 * 1024 - 1;
const char NOT_FOUND_BODY[] = "not found";

bool read_override_file(const std::string& base_dir, const std::string& path, std::string& body) {
    if (!may_read_override(path)) return false;
    std::string relative = path;
    for (char& c : relative)
        if (c == '/') c = '\\';
    // The folder is ANSI, the path comes from an address and is UTF-8.
    std::wstring name = utf8_to_wide(base_dir, CP_ACP) + L"\\ui\\" + utf8_to_wide(relative);
    UniqueHandle file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || GetFileType(file.get()) != FILE_TYPE_DISK) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > MAX_OVERRIDE_FILE) return false;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
        got != bytes.size())
        return false;
    body = std::move(bytes);
    return true;
}

bool read_archive_entry(const UiSchemeFactory& factory, const std::string& path,
                        std::string& body) {
    mz_zip_archive zip{};
    bool opened =
        factory.archive_data
            ? mz_zip_reader_init_mem(&zip, factory.archive_data, factory.archive_size, 0)
            : mz_zip_reader_init_file(&zip, (factory.base_dir + "\\ui.zip").c_str(), 0);
    if (!opened) return false;
    size_t size = 0;
    void* block = mz_zip_reader_extract_file_to_heap(&zip, path.c_str(), &size, 0);
    if (block) {
        body.assign(static_cast<const char*>(block), size);
        mz_free(block);
    }
    mz_zip_reader_end(&zip);
    return block != nullptr;
}

// The override folder first, then the archive. A body that does not fit in
// memory is answered like a missing one, and logged.
bool read_body(const UiSchemeFactory& factory, const std::string& path, std::string& body) {
    try {
        return read_override_file(factory.base_dir, path, body) ||
               read_archive_entry(factory, path, body);
    } catch (const std::bad_alloc&) {
        body.clear();
        log_line_bounded("!! ui: out of memory for %s", path.c_str());
        return false;
    }
}

}  // namespace

UiSchemeFactory* prepare_ui_scheme_factory(const std::string& app_dir,
                                           const unsigned char* archive_data,
                                           uint32_t archive_size) {
    UiSchemeFactory& f = ui_scheme_factory;
    f.cef = cef_scheme_handler_factory_t{};
    set_static_handler_base(f.cef.base, sizeof(cef_scheme_handler_factory_t));
    f.cef.create = create_ui_resource_handler;
    f.archive_data = archive_data;
    f.archive_size = archive_data ? archive_size : 0;
    f.base_dir = app_dir + "\\KORVAL";
    return &f;
}

UiResponse resolve_ui_request(const UiSchemeFactory& factory, const std::string& url) {
    UiResponse response;
    const UiRequestTarget target = ui_request_target(url);
    if (target.status != 0) {
        response.status = target.status;
    } else if (read_body(factory, target.path, response.body)) {
        response.status = 200;
        response.mime_type = mime_type_for(target.path);
        return response;
    } else {
        log_line_bounded("ui: 404 %s", url.c_str());
    }
    response.body = NOT_FOUND_BODY;
    response.mime_type = "text/plain";
    return response;
}
