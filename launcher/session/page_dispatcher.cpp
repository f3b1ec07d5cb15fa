#include "page_dispatcher.h"

#include <windows.h>
#include <shellapi.h>

#include "build_config.h"
#include "game_dir_setting.h"
#include "install_dir.h"
#include "json_writer.h"
#include "launcher/browser/cef_api.h"
#include "launcher/browser/page_bridge.h"
#include "launcher/core/log.h"
#include "launcher/core/session_state.h"
#include "launcher/core/win_handles.h"
#include "launcher/core/window_messages.h"
#include "launcher/download/game_files_job.h"
#include "player_actions.h"
#include "text_convert.h"

namespace {

// The SA-MP client's own key: its saved name is the nick the page starts with.
const char SAMP_KEY[] = "Software\\SAMP";
const char SAMP_NAME_VALUE[] = "PlayerName";

// The saved name, when it is there, a REG_SZ of at most 63 bytes, and a valid nick.
std::string saved_samp_name() {
    RegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SAMP_KEY, 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return std::string();
    char buffer[64] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer - 1;
    if (RegQueryValueExA(key.get(), SAMP_NAME_VALUE, nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::string();
    std::string name(buffer);
    return is_valid_nick(name) ? name : std::string();
}

void on_ready() {
    if (session.nick.empty()) session.nick = saved_samp_name();
    log_line("page ready, saved nick '%s'", session.nick.c_str());
    send_page_event(init_event_text(session.nick, LAUNCHER_VERSION, session.engineering,
                                    session.installed, session.main_server_address,
                                    test_server_address(), ansi_to_utf8(session.game_dir)));
    if (!session.autotest_nick.empty()) handle_nick(session.autotest_nick, "main");
}

void on_install() {
    if (session.busy || session.installed || session.candidate.path.empty()) return;
    InstallDirCheck check = check_install_dir(session.candidate.path, false);
    if (!check.error.empty()) {
        send_install_dir_event(check);
        return;
    }
    if (!check.game_present && !create_install_dir(check.path, check.error)) {
        send_install_dir_event(check);
        return;
    }
    if (!write_game_dir_setting(check.path)) log_line("!! cannot write HKCU\\Software\\KORVAL\\GameDir");
    session.game_dir = utf8_to_ansi(check.path);
    session.installed = check.game_present;
    log_line("install: game dir set to '%s'%s", session.game_dir.c_str(),
             session.installed ? " (game already there)" : "");
    start_game_files_job();
}

void on_retry() {
    // Not guarded by busy: a failed job leaves it set, and retry is the way out.
    // A paused job is resumed, not retried.
    // The player's check needs no nick: it starts no game.
    const bool can_run = !session.nick.empty() || session.verifying;
    if (!session.paused && can_run && !session.game_dir.empty())
        start_game_files_job();
}

void on_link(const std::string& name) {
    if (name == "vk")
        ShellExecuteA(nullptr, "open", KORVAL_COMMUNITY_URL, nullptr, nullptr, SW_SHOWNORMAL);
    else
        log_line_bounded("link %s: not configured", name.c_str());
}

struct MessageRule {
    const char* type;
    void (*handle)(const PageMessage& message);
};

// Types compare byte for byte, case-sensitively.
const MessageRule MESSAGE_RULES[] = {
    {"ready", [](const PageMessage&) { on_ready(); }},
    {"nick", [](const PageMessage& m) { handle_nick(m.nick, m.server_id); }},
    {"install", [](const PageMessage&) { on_install(); }},
    {"retry", [](const PageMessage&) { on_retry(); }},
    {"exit", [](const PageMessage&) { PostMessageW(main_window, WM_CLOSE, 0, 0); }},
    {"link", [](const PageMessage& m) { on_link(m.name); }},
    {"menu", [](const PageMessage&) { show_engineering_menu(); }},
    {"pause", [](const PageMessage&) { pause_game_files(); }},
    {"resume", [](const PageMessage&) { resume_game_files(); }},
    {"cancel", [](const PageMessage&) { cancel_game_files(); }},
    {"verify", [](const PageMessage&) { verify_game_files(); }},
    {"changeDir", [](const PageMessage& m) { change_game_folder(m.nick, m.server_id); }},
    {"openDir", [](const PageMessage&) { open_game_folder(); }},
    {"openLog", [](const PageMessage&) { open_log(); }},
    {"copy", [](const PageMessage& m) { copy_page_text(m.text); }},
    // The modal dialog must not run inside the runtime's console callback.
    {"pickDir", [](const PageMessage&) { PostMessageW(main_window, WM_PICK_DIR, 0, 0); }},
};

void handle_page_message(const std::string& json) {
    const PageMessage message = read_page_message(json);
    for (const MessageRule& rule : MESSAGE_RULES) {
        if (message.type == rule.type) {
            rule.handle(message);
            return;
        }
    }
    log_line_bounded("page: unknown message %s", json.c_str());
}

}  // namespace

int dispatch_page_message(const cef_string_t* message, const cef_string_t* source, int line) {
    std::string text = cef_text_to_utf8(message);
    std::string json;
    if (launcher_message_of(text, json)) {
        handle_page_message(json);
        return 1;
    }
    std::string where = cef_text_to_utf8(source);
    log_line_bounded("console: %s (%s:%d)", text.c_str(), where.c_str(), line);
    return 0;
}

void handle_nick(const std::string& nick, const std::string& server_id) {
    if (session.busy) return;
    if (server_id.empty() || server_id == "main") {
        session.server_address = session.main_server_address;
    } else if (server_id == "test") {
        session.server_address = test_server_address();
    } else {
        log_line_bounded("!! page sent unknown server id '%s'", server_id.c_str());
        return;
    }
    if (!is_valid_nick(nick)) {
        log_line_bounded("!! page sent invalid nick '%s'", nick.c_str());
        return;
    }
    session.nick = nick;
    log_line("nick %s, server %s", session.nick.c_str(), session.server_address.c_str());
    if (session.installed) {
        start_game_files_job();
        return;
    }
    std::string proposal =
        session.game_dir.empty() ? default_install_dir() : ansi_to_utf8(session.game_dir);
    send_install_dir_event(check_install_dir(proposal, false));
}

void start_game_files_job() {
    session.busy = true;
    GameFilesRequest request;
    request.install_dir = session.game_dir;
    request.fake_error = session.fake_error;
    request.window = main_window;
    request.verify_all = session.verifying;
    begin_game_files_job(request);
}

std::string test_server_address() { return KORVAL_GAME_SERVER_HOST ":7778"; }
