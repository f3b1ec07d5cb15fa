#include "game_launch.h"

#include <vector>

#include <windows.h>

#include "json_writer.h"
#include "launcher/browser/page_bridge.h"
#include "launcher/core/log.h"
#include "launcher/core/session_state.h"
#include "launcher/core/win_handles.h"
#include "launcher/core/window_messages.h"
#include "text_convert.h"

namespace {

const char SAMP_KEY[] = "Software\\SAMP";
const UINT CLOSE_DELAY_MS = 1500;

// The launcher neither waits for the game nor watches it.
bool start_samp(const std::string& command_line, DWORD& error) {
    std::vector<char> buffer(command_line.begin(), command_line.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        session.game_dir.c_str(), &startup, &process)) {
        error = GetLastError();
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace

void write_samp_setting(const char* name, const std::string& value) {
    RegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SAMP_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, key.out(), nullptr) != ERROR_SUCCESS)
        return;
    if (RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS)
        log_line("!! cannot write HKCU\\%s\\%s", SAMP_KEY, name);
}

void launch_game() {
    // From here on the page may send a nick or an install again, whatever follows.
    session.busy = false;
    write_samp_setting("PlayerName", session.nick);
    write_samp_setting("gta_sa_exe", session.game_dir + "\\gta_sa.exe");

    std::string samp = session.game_dir + "\\samp.exe";
    if (GetFileAttributesA(samp.c_str()) == INVALID_FILE_ATTRIBUTES) {
        log_line("!! %s not found", samp.c_str());
        send_error_event("Игра не найдена",
                         "Нет файла samp.exe в папке " + ansi_to_utf8(session.game_dir) + ".");
        return;
    }
    send_page_event(launching_event_text());

    if (session.no_game) {
        log_line("game: --no-game, would run %s %s as %s", samp.c_str(),
                 session.server_address.c_str(), session.nick.c_str());
        SetTimer(main_window, CLOSE_TIMER_ID, CLOSE_DELAY_MS, nullptr);
        return;
    }
    std::string command_line = "\"" + samp + "\" " + session.server_address;
    DWORD error = 0;
    if (!start_samp(command_line, error)) {
        log_line("!! CreateProcess(%s) failed: %lu", command_line.c_str(), error);
        send_error_event("Не удалось запустить игру",
                         "Ошибка запуска samp.exe (" + std::to_string(error) + ").");
        return;
    }
    log_line("game: started %s as %s", command_line.c_str(), session.nick.c_str());
    SetTimer(main_window, CLOSE_TIMER_ID, CLOSE_DELAY_MS, nullptr);
}
