// The stand-in's process-level exports: API version, start, scheme
// registration, sub-process entry, message loop and shutdown.
#include <cstring>
#include <utility>

#include "stub.h"

cef_app_t* stub_application = nullptr;
cef_scheme_handler_factory_t* stub_factory = nullptr;

namespace {

const char API_HASH_14800[] = "a9fddb1f86f1fc427a6eee19a370dbedb14468cb";

void report_text(const char* name, const cef_string_t& text) {
    report("settings.%s %s", name, escape(utf8_of(&text)).c_str());
}

// Offsets of members outside `listed` that are not zero: the launcher leaves
// every member it does not set at zero.
std::string unlisted_nonzero(const void* data, size_t size,
                             const std::vector<std::pair<size_t, size_t>>& listed) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    for (size_t at = 0; at < size; at += 4) {
        bool is_listed = false;
        for (const auto& [offset, length] : listed)
            if (at >= offset && at < offset + length) is_listed = true;
        unsigned int word = 0;
        std::memcpy(&word, bytes + at, 4);
        if (!is_listed && word) out += (out.empty() ? "" : ",") + std::to_string(at);
    }
    return out.empty() ? "none" : out;
}

// Where a member of the settings lies, as an (offset, length) pair.
#define MEMBER(name) \
    std::pair<size_t, size_t>(offsetof(cef_settings_t, name), sizeof(cef_settings_t::name))

void report_settings(const cef_settings_t& s) {
    report("settings.size %u", static_cast<unsigned>(s.size));
    report("settings.no_sandbox %d", s.no_sandbox);
    report_text("browser_subprocess_path", s.browser_subprocess_path);
    report_text("resources_dir_path", s.resources_dir_path);
    report_text("locales_dir_path", s.locales_dir_path);
    report_text("root_cache_path", s.root_cache_path);
    report_text("cache_path", s.cache_path);
    report_text("locale", s.locale);
    report_text("log_file", s.log_file);
    report("settings.log_severity %d", s.log_severity);
    report("settings.remote_debugging_port %d", s.remote_debugging_port);
    report("settings.background_color 0x%08x", s.background_color);
    report("settings.multi_threaded_message_loop %d", s.multi_threaded_message_loop);
    report("settings.external_message_pump %d", s.external_message_pump);
    report("settings.unlisted_nonzero %s",
           unlisted_nonzero(&s, sizeof s,
                            {MEMBER(size), MEMBER(no_sandbox), MEMBER(browser_subprocess_path),
                             MEMBER(resources_dir_path), MEMBER(locales_dir_path),
                             MEMBER(root_cache_path), MEMBER(cache_path), MEMBER(locale),
                             MEMBER(log_file), MEMBER(log_severity),
                             MEMBER(remote_debugging_port), MEMBER(background_color)})
               .c_str());
}

}  // namespace

STUB_EXPORT const char* cef_api_hash(int version, int entry) {
    note_call("cef_api_hash");
    report("api_hash %d %d", version, entry);
    return version == 14800 && (entry == 0 || entry == 1) ? API_HASH_14800 : nullptr;
}

STUB_EXPORT int cef_initialize(const cef_main_args_t* args, const cef_settings_t* settings,
                               cef_app_t* application, void* sandbox_info) {
    note_call("cef_initialize");
    report("initialize instance=%d app=%d sandbox=%d", args && args->instance ? 1 : 0,
           application ? 1 : 0, sandbox_info ? 1 : 0);
    if (settings) report_settings(*settings);
    if (application) {
        if (application->base.size != sizeof(cef_app_t))
            report("!! cef_app_t size %u", static_cast<unsigned>(application->base.size));
        stub_application = application;
        // The browser process and each kind of sub-process get their command line.
        for (const char* type : {"", "renderer", "gpu-process", "utility"}) {
            if (!application->on_before_command_line_processing) break;
            cef_string_t process_type{};
            set_text(process_type, type);
            cef_command_line_t* command_line = new_command_line(type);
            application->on_before_command_line_processing(application, &process_type,
                                                           handed(command_line));
            command_line->base.release(&command_line->base);
            clear_text(process_type);
        }
    }
    int result = scenario().initialize_fails ? 0 : 1;
    report("initialize -> %d", result);
    return result;
}

#ifndef STUB_LACKING_EXPORTS
STUB_EXPORT int cef_execute_process(const cef_main_args_t* args, cef_app_t* application,
                                    void* sandbox_info) {
    note_call("cef_execute_process");
    report("execute_process instance=%d app=%d sandbox=%d", args && args->instance ? 1 : 0,
           application ? 1 : 0, sandbox_info ? 1 : 0);
    if (scenario().has_execute_result) return scenario().execute_result;
    // As the runtime: -1 for the browser process, which has no type switch.
    return std::wcsstr(GetCommandLineW(), L"--type=") ? 0 : -1;
}

STUB_EXPORT int cef_register_scheme_handler_factory(const cef_string_t* scheme_name,
                                                    const cef_string_t* domain_name,
                                                    cef_scheme_handler_factory_t* factory) {
    note_call("cef_register_scheme_handler_factory");
    report("register_scheme %s %s size=%u", utf8_of(scheme_name).c_str(),
           utf8_of(domain_name).c_str(), factory ? static_cast<unsigned>(factory->base.size) : 0);
    stub_factory = factory;
    return 1;
}
#endif

STUB_EXPORT int cef_browser_host_create_browser(const cef_window_info_t* window_info,
                                                cef_client_t* client, const cef_string_t* url,
                                                const cef_browser_settings_t* settings,
                                                void* extra_info, void* request_context) {
    note_call("cef_browser_host_create_browser");
    if (extra_info || request_context) report("!! create_browser with extra information or context");
    return create_browser(window_info, client, url, settings);
}

STUB_EXPORT void cef_run_message_loop() {
    note_call("cef_run_message_loop");
    report("run_message_loop");
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    report("run_message_loop end");
}

STUB_EXPORT void cef_quit_message_loop() {
    note_call("cef_quit_message_loop");
    report("quit_message_loop");
    PostQuitMessage(0);
}

STUB_EXPORT void cef_shutdown() {
    note_call("cef_shutdown");
    destroy_stub_windows();
    // What the launcher still holds: settings texts are kept on purpose.
    report("shutdown texts=%ld userfree=%ld references=%ld", live_texts(), live_userfree_texts(),
           outstanding_references());
}
