#pragma once
// The JSON text of the launcher's events to the page. There is no general
// serializer: each event is fixed pieces of text with quoted values in between,
// with no whitespace between tokens.
#include <cstdint>
#include <string>

#include "launcher/core/session_state.h"

// `text` (UTF-8 bytes) as a JSON string: quote and backslash escaped, control
// bytes as \u00XX, every other byte (UTF-8 sequences, 127) copied as it is.
std::string json_quote(const std::string& text);

// The events, member for member in the order the page's protocol fixes.
std::string init_event_text(const std::string& nick, const std::string& version,
                            bool engineering, bool installed, const std::string& main_address,
                            const std::string& test_address, const std::string& install_dir);
std::string install_dir_event_text(const InstallDirCheck& check);
// With a member "code" when the message ends a clause with a system error
// code in parentheses, "(12030)": the page shows it apart from the sentence.
std::string error_event_text(const std::string& title, const std::string& message);
std::string launching_event_text();

// An event of a type and no members: "paused", "cancelled", "closeQuestion".
std::string bare_event_text(const char* type);
std::string files_checked_event_text(uint64_t checked, uint64_t repaired);
std::string engineering_event_text(const std::string& version, const std::string& install_dir,
                                   const std::string& content_server,
                                   const std::string& log_path);

// The last "(N)" that ends a sentence of a message, N being 1 to 10 digits;
// empty when there is none.
std::string error_code_of(const std::string& message);

// The raw figures behind a progress event, added after its members so that a
// page that does not know them reads the event as before. Without a phase
// the event has none of them.
struct ProgressFigures {
    const char* phase = nullptr;  // "manifest", "check", "download" or "done"
    uint64_t bytes_done = 0;      // bytes hashed or downloaded in this phase
    uint64_t bytes_total = 0;
    uint64_t files_done = 0;
    uint64_t files_total = 0;
    uint64_t bytes_per_second = 0;  // 0 until there is a real sample
};
std::string progress_event_text(const std::string& title, const std::string& details,
                                int percent, bool indeterminate,
                                const ProgressFigures& figures = ProgressFigures());

// Window thread only. The error event, straight to the page; callers log
// their own cause.
void send_error_event(const std::string& title, const std::string& message);

// Window thread only. Makes the check the session's candidate, logs it as
// "install: dir ...", and sends the installDir event.
void send_install_dir_event(const InstallDirCheck& check);
