#include "browser_runtime.h"

#include <string>

#include "browser_client.h"
#include "cef_api.h"
#include "launcher/browser/cef_arg_ref.h"
#include "launcher/core/log.h"
#include "launcher/core/session_state.h"
#include "launcher/session/text_convert.h"
#include "static_handler.h"
#include "ui_resource_server.h"

namespace {

const int PAGE_ARCHIVE_RESOURCE = 101;
const int REMOTE_DEBUGGING_PORT = 9224;
const cef_color_t BACKGROUND_COLOR = 0xFF050505;

cef_app_t application;
// The runtime may keep referring to the texts of its settings: they live as
// long as the process.
cef_settings_t settings;

// Runtime texts take UTF-8; the launcher's folder is ANSI.
void set_path(cef_string_t& member, const std::string& ansi_path) {
    set_cef_text(member, ansi_to_utf8(ansi_path));
}

void fill_settings(const std::string& app_dir, const std::string& cache_root) {
    settings = cef_settings_t{};
    settings.size = sizeof(cef_settings_t);
    settings.no_sandbox = 1;
    set_path(settings.browser_subprocess_path, app_dir + "\\cef\\korval.exe");
    set_path(settings.resources_dir_path, app_dir + "\\cef");
    set_path(settings.locales_dir_path, app_dir + "\\cef\\locales");
    set_path(settings.root_cache_path, cache_root);
    set_path(settings.cache_path, cache_root + "\\default");
    set_cef_text(settings.locale, "ru");
    set_path(settings.log_file, cache_root + "\\cef.log");
    settings.log_severity = LOGSEVERITY_WARNING;
    settings.remote_debugging_port = startup_options.dev ? REMOTE_DEBUGGING_PORT : 0;
    settings.background_color = BACKGROUND_COLOR;
}

}  // namespace

void CEF_CALLBACK on_before_command_line_processing(cef_app_t* self,
                                                   const cef_string_t* process_type,
                                                   cef_command_line_t* command_line) {
    CefArgRef<cef_command_line_t> argument(command_line);
    if (!command_line) return;
    for (const char* name : {"disable-gpu", "disable-gpu-compositing"}) {
        CefText text(name);
        command_line->append_switch(command_line, text.get());
    }
}

const unsigned char* find_page_archive(HMODULE module, uint32_t& size) {
    size = 0;
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(PAGE_ARCHIVE_RESOURCE), RT_RCDATA);
    if (!resource) return nullptr;
    HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return nullptr;
    size = SizeofResource(module, resource);
    return static_cast<const unsigned char*>(data);
}

bool init_browser_runtime() {
    const std::string& app_dir = startup_options.app_dir;
    std::string library_path = app_dir + "\\cef\\libcef.dll";
    // The library's own dependencies are found in its folder.
    HMODULE library = LoadLibraryExA(library_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) {
        DWORD error = GetLastError();
        log_line("!! LoadLibrary(%s) failed: %lu", library_path.c_str(), error);
        return false;
    }
    std::string missing;
    if (!bind_cef_api(library, missing)) {
        log_line("!! libcef has no %s", missing.c_str());
        return false;
    }
    // Fixes the API version for the process: must precede every other call.
    const char* hash = cef_api.api_hash(BROWSER_API_VERSION, 0);
    log_line("libcef api hash %s (CEF_API_VERSION %d)", hash ? hash : "", BROWSER_API_VERSION);

    application = cef_app_t{};
    set_static_handler_base(application.base, sizeof(cef_app_t));
    application.on_before_command_line_processing = on_before_command_line_processing;

    std::string cache_root = app_dir + "\\KORVAL\\launcher";
    CreateDirectoryA((app_dir + "\\KORVAL").c_str(), nullptr);
    CreateDirectoryA(cache_root.c_str(), nullptr);
    fill_settings(app_dir, cache_root);

    cef_main_args_t main_args{GetModuleHandleW(nullptr)};
    if (!cef_api.initialize(&main_args, &settings, &application, nullptr)) {
        log_line("!! cef_initialize failed — see %s\\cef.log", cache_root.c_str());
        return false;
    }

    uint32_t archive_size = 0;
    const unsigned char* archive = find_page_archive(GetModuleHandleW(nullptr), archive_size);
    log_line("ui: embedded zip %u bytes", archive_size);
    UiSchemeFactory* factory = prepare_ui_scheme_factory(app_dir, archive, archive_size);
    {
        CefText scheme("http");
        CefText domain("ui");
        cef_api.register_scheme_handler_factory(scheme.get(), domain.get(), &factory->cef);
    }

    prepare_browser_handlers();
    return true;
}
