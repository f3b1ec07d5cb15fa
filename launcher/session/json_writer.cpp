#include "json_writer.h"

#include "install_dir.h"
#include "launcher/browser/page_bridge.h"
#include "launcher/core/log.h"
#include "text_convert.h"

namespace {

const char* json_bool(bool value) { return value ? "true" : "false"; }

}  // namespace

std::string json_quote(const std::string& text) {
    static const char HEX[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20) {
            // Always the long form: the page's parser needs no special cases.
            out += "\\u00";
            out.push_back(HEX[c >> 4]);
            out.push_back(HEX[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out.push_back('"');
    return out;
}

std::string init_event_text(const std::string& nick, const std::string& version,
                            bool engineering, bool installed, const std::string& main_address,
                            const std::string& test_address, const std::string& install_dir) {
    return std::string("{\"type\":\"init\",\"nick\":") + json_quote(nick) +
           ",\"version\":" + json_quote(version) + ",\"engineering\":" + json_bool(engineering) +
           ",\"installed\":" + json_bool(installed) +
           ",\"servers\":[{\"id\":\"main\",\"name\":\"Основной сервер\",\"address\":" +
           json_quote(main_address) +
           "},{\"id\":\"test\",\"name\":\"Тестовый сервер\",\"address\":" +
           json_quote(test_address) + "}],\"installDir\":" + json_quote(install_dir) + "}";
}

std::string install_dir_event_text(const InstallDirCheck& check) {
    return "{\"type\":\"installDir\",\"path\":" + json_quote(check.path) +
           ",\"freeBytes\":" + std::to_string(check.free_bytes) +
           ",\"needBytes\":" + std::to_string(NEED_BYTES) + ",\"error\":" +
           json_quote(check.error) + ",\"gamePresent\":" + json_bool(check.game_present) + "}";
}

std::string error_code_of(const std::string& message) {
    for (size_t close = message.rfind(')'); close != std::string::npos && close > 0;
         close = message.rfind(')', close - 1)) {
        const size_t open = message.rfind('(', close);
        if (open == std::string::npos) break;
        const std::string digits = message.substr(open + 1, close - open - 1);
        // Only at the end of a sentence: "(2)" inside a file's name is no code.
        const std::string after = message.substr(close + 1);
        const bool ends_sentence = after.empty() || after == "." || after.rfind(". ", 0) == 0;
        if (ends_sentence && !digits.empty() && digits.size() <= 10 &&
            digits.find_first_not_of("0123456789") == std::string::npos)
            return digits;
    }
    return std::string();
}

std::string error_event_text(const std::string& title, const std::string& message) {
    const std::string code = error_code_of(message);
    return "{\"type\":\"error\",\"title\":" + json_quote(title) +
           ",\"message\":" + json_quote(message) +
           (code.empty() ? std::string() : ",\"code\":" + code) + "}";
}

std::string launching_event_text() { return bare_event_text("launching"); }

std::string bare_event_text(const char* type) {
    return std::string("{\"type\":\"") + type + "\"}";
}

std::string files_checked_event_text(uint64_t checked, uint64_t repaired) {
    return "{\"type\":\"filesChecked\",\"filesChecked\":" + std::to_string(checked) +
           ",\"filesRepaired\":" + std::to_string(repaired) + "}";
}

std::string engineering_event_text(const std::string& version, const std::string& install_dir,
                                   const std::string& content_server,
                                   const std::string& log_path) {
    return "{\"type\":\"engineering\",\"version\":" + json_quote(version) +
           ",\"installDir\":" + json_quote(install_dir) +
           ",\"contentServer\":" + json_quote(content_server) +
           ",\"logPath\":" + json_quote(log_path) + "}";
}

std::string progress_event_text(const std::string& title, const std::string& details,
                                int percent, bool indeterminate, const ProgressFigures& figures) {
    std::string text = "{\"type\":\"progress\",\"title\":" + json_quote(title) +
                       ",\"details\":" + json_quote(details) +
                       ",\"percent\":" + std::to_string(percent) +
                       ",\"indeterminate\":" + json_bool(indeterminate);
    if (figures.phase)
        text += ",\"phase\":" + json_quote(figures.phase) +
                ",\"bytesDone\":" + std::to_string(figures.bytes_done) +
                ",\"bytesTotal\":" + std::to_string(figures.bytes_total) +
                ",\"bytesPerSecond\":" + std::to_string(figures.bytes_per_second) +
                ",\"filesDone\":" + std::to_string(figures.files_done) +
                ",\"filesTotal\":" + std::to_string(figures.files_total);
    return text + "}";
}

void send_error_event(const std::string& title, const std::string& message) {
    send_page_event(error_event_text(title, message));
}

void send_install_dir_event(const InstallDirCheck& check) {
    session.candidate = check;
    // The path and the error come from the page or the disk: bounded.
    log_line_bounded("install: dir '%s' free %llu MB%s%s", utf8_to_ansi(check.path).c_str(),
                     static_cast<unsigned long long>(check.free_bytes / 1048576),
                     check.error.empty() ? "" : " — ", utf8_to_ansi(check.error).c_str());
    send_page_event(install_dir_event_text(check));
}
