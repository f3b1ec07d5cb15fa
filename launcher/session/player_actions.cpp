#include "player_actions.h"

#include <windows.h>

#include "json_writer.h"
#include "launcher/browser/page_bridge.h"
#include "launcher/core/log.h"
#include "launcher/core/session_state.h"
#include "launcher/core/shell_actions.h"
#include "launcher/core/taskbar.h"
#include "launcher/core/window_messages.h"
#include "launcher/download/download_events.h"
#include "launcher/download/game_files_job.h"
#include "launcher/update/version_record.h"
#include "page_dispatcher.h"
#include "page_message.h"
#include "text_convert.h"

namespace {

// The clipboard takes what a player would paste into a message; more is cut.
const size_t COPY_LIMIT_BYTES = 4096;

// Events of the job's own kind also drive the taskbar button.
void send_job_event(const std::string& text) {
    taskbar_show_event(main_window, text);
    send_page_event(text);
}

// A stopped job's last words may still wait in the queue: a progress event
// would take the page back from its paused or cancelled state, and a game
// start or check result would come after the player said stop.
void drop_stopped_job_messages() {
    discard_queued_page_events(main_window);
    MSG msg;
    while (PeekMessageW(&msg, main_window, WM_START_GAME, WM_START_GAME, PM_REMOVE)) {
    }
    while (PeekMessageW(&msg, main_window, WM_FILES_CHECKED, WM_FILES_CHECKED, PM_REMOVE)) {
    }
}

// A UTF-8 text cut to at most `limit` bytes without splitting a character.
std::string cut_utf8(const std::string& text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// The base address the self-update resolves against, without its last "/".
std::string content_server_address() {
    const std::string base = content_base_url();
    return base.substr(0, base.size() - 1);
}

}  // namespace

void pause_game_files() {
    if (!session.busy || session.paused) return;
    stop_game_files_job(JobStop::Pause);
    drop_stopped_job_messages();
    session.paused = true;
    log_line("download: paused by the player");
    send_job_event(bare_event_text("paused"));
}

void resume_game_files() {
    if (!session.paused) return;
    session.paused = false;
    log_line("download: resumed by the player");
    start_game_files_job();
}

void cancel_game_files() {
    if (!session.busy) return;
    stop_game_files_job(JobStop::Pause);
    drop_stopped_job_messages();
    session.busy = false;
    session.paused = false;
    session.verifying = false;
    log_line("download: cancelled by the player");
    send_job_event(bare_event_text("cancelled"));
}

void open_game_folder() {
    if (session.game_dir.empty()) return;
    std::string error;
    if (open_folder(main_window, utf8_to_wide(session.game_dir, CP_ACP), error))
        log_line("page: opened the game folder %s", session.game_dir.c_str());
    else
        log_line("!! page: game folder %s: %s", session.game_dir.c_str(), error.c_str());
}

void verify_game_files() {
    if (session.busy || !session.installed) return;
    log_line("install: the player checks every game file");
    session.verifying = true;
    start_game_files_job();
}

void change_game_folder(const std::string& nick, const std::string& server_id) {
    if (session.busy || !session.installed) return;
    // A message the nick handler would refuse must not leave the session
    // half changed: it is refused here, as that handler logs it.
    const bool known_server = server_id.empty() || server_id == "main" || server_id == "test";
    if (!known_server || !is_valid_nick(nick)) {
        log_line_bounded("!! page sent changeDir with nick '%s', server '%s'", nick.c_str(),
                         server_id.c_str());
        return;
    }
    // The old folder keeps its files; the next install decides the new one.
    session.installed = false;
    log_line("install: the player chooses another folder than '%s'", session.game_dir.c_str());
    handle_nick(nick, server_id);
}

void copy_page_text(const std::string& text_utf8) {
    const std::wstring text = utf8_to_wide(cut_utf8(text_utf8, COPY_LIMIT_BYTES));
    std::string error;
    if (copy_to_clipboard(main_window, text, error))
        log_line("page: copied %u characters", static_cast<unsigned>(text.size()));
    else
        log_line("!! page: copy: %s", error.c_str());
}

void open_log() {
    const std::string path = log_path();
    if (path.empty()) {
        log_line("!! page: no log to open");
        return;
    }
    std::string error;
    switch (open_text_copy(main_window, utf8_to_wide(path, CP_ACP), L"korval_launcher_log.txt",
                           error)) {
    case OpenedWith::Viewer:
        log_line("page: opened the log");
        break;
    case OpenedWith::Notepad:
        log_line("page: opened the log in Notepad (no viewer for text files)");
        break;
    case OpenedWith::Failed:
        log_line("!! page: log: %s", error.c_str());
        break;
    }
}

void show_engineering_menu() {
    if (!session.engineering) {
        log_line("page: engineering menu (not implemented on PC yet)");
        return;
    }
    log_line("page: engineering menu");
    send_page_event(engineering_event_text(LAUNCHER_VERSION, ansi_to_utf8(session.game_dir),
                                           content_server_address(), ansi_to_utf8(log_path())));
}

void game_files_checked(uint64_t repaired, uint64_t checked) {
    session.busy = false;
    session.verifying = false;
    log_line("install: every game file checked, %llu of %llu downloaded again",
             static_cast<unsigned long long>(repaired), static_cast<unsigned long long>(checked));
    send_job_event(files_checked_event_text(checked, repaired));
}
