#include "page_dispatcher.h"

#include <cstring>

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
#include "text_convert.h"

namespace {

const size_t PREFIX_LENGTH = sizeof PAGE_MESSAGE_PREFIX - 1;
static_assert(PREFIX_LENGTH == 13);

// The SA-MP client's own key: its saved name is the nick the page starts with.
const char SAMP_KEY[] = "Software\\SAMP";
const char SAMP_NAME_VALUE[] = "PlayerName";

bool is_letter_or_digit(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool is_name_part(const std::string& part, size_t min_length) {
    if (part.size() < min_length) return false;
    for (char c : part)
        if (!is_letter_or_digit(c)) return false;
    return true;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four bytes after "\u" as a number, stopping at the first non-hex byte.
unsigned hex4(const char* digits) {
    unsigned value = 0;
    for (int i = 0; i < 4 && hex_value(digits[i]) >= 0; ++i) value = value * 16 + hex_value(digits[i]);
    return value;
}

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
                                    test_server_address()));
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
    if (!session.nick.empty() && !session.game_dir.empty()) start_game_files_job();
}

void on_link(const std::string& json) {
    std::string name = json_string_field(json, "name");
    if (name == "vk")
        ShellExecuteA(nullptr, "open", KORVAL_COMMUNITY_URL, nullptr, nullptr, SW_SHOWNORMAL);
    else
        log_line_bounded("link %s: not configured", name.c_str());
}

struct MessageRule {
    const char* type;
    void (*handle)(const std::string& json);
};

// Types compare byte for byte, case-sensitively.
const MessageRule MESSAGE_RULES[] = {
    {"ready", [](const std::string&) { on_ready(); }},
    {"nick",
     [](const std::string& json) {
         std::string server_id = json_string_field(json, "serverId");
         handle_nick(json_string_field(json, "nick"), server_id);
     }},
    {"install", [](const std::string&) { on_install(); }},
    {"retry", [](const std::string&) { on_retry(); }},
    {"exit", [](const std::string&) { PostMessageW(main_window, WM_CLOSE, 0, 0); }},
    {"link", on_link},
    {"menu",
     [](const std::string&) { log_line("page: engineering menu (not implemented on PC yet)"); }},
    // The modal dialog must not run inside the runtime's console callback.
    {"pickDir", [](const std::string&) { PostMessageW(main_window, WM_PICK_DIR, 0, 0); }},
};

void handle_page_message(const std::string& json) {
    std::string type = json_string_field(json, "type");
    for (const MessageRule& rule : MESSAGE_RULES) {
        if (type == rule.type) {
            rule.handle(json);
            return;
        }
    }
    log_line_bounded("page: unknown message %s", json.c_str());
}

}  // namespace

int dispatch_page_message(const cef_string_t* message, const cef_string_t* source, int line) {
    std::string text = cef_text_to_utf8(message);
    if (text.size() >= PREFIX_LENGTH && text.compare(0, PREFIX_LENGTH, PAGE_MESSAGE_PREFIX) == 0) {
        handle_page_message(text.substr(PREFIX_LENGTH));
        return 1;
    }
    std::string where = cef_text_to_utf8(source);
    log_line_bounded("console: %s (%s:%d)", text.c_str(), where.c_str(), line);
    return 0;
}

std::string json_string_field(const std::string& json, const std::string& name) {
    std::string key = "\"" + name + "\"";
    size_t at = json.find(key);
    if (at == std::string::npos) return std::string();
    size_t colon = json.find(':', at + key.size());
    if (colon == std::string::npos) return std::string();
    size_t quote = json.find('"', colon + 1);
    if (quote == std::string::npos || quote + 1 >= json.size()) return std::string();

    std::string value;
    const size_t n = json.size();
    for (size_t i = quote + 1; i < n; ++i) {
        char c = json[i];
        if (c == '"') return value;
        if (c != '\\') {
            value.push_back(c);
            continue;
        }
        if (i + 1 >= n) break;  // a backslash as the last byte: unterminated
        char escaped = json[++i];
        if (escaped == 'n') {
            value.push_back('\n');
        } else if (escaped == 'u' && i + 4 < n) {
            unsigned code = hex4(json.data() + i + 1);
            if (code <= 127) value.push_back(static_cast<char>(code));
            i += 4;
        } else {
            // Covers \" \\ \/, a short \u, and any other byte (\t gives t).
            value.push_back(escaped);
        }
    }
    return std::string();
}

bool is_valid_nick(const std::string& nick) {
    if (nick.size() < 2 || nick.size() > 20) return false;
    size_t underscore = nick.find('_');
    if (underscore == std::string::npos) return is_name_part(nick, 2);
    return is_name_part(nick.substr(0, underscore), 2) &&
           is_name_part(nick.substr(underscore + 1), 2);
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
    begin_game_files_job(request);
}

std::string test_server_address() { return KORVAL_GAME_SERVER_HOST ":7778"; }
