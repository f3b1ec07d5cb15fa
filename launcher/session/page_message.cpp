#include "launcher/session/page_message.h"

#include "launcher/net/json_reader.h"

namespace {

const size_t PREFIX_LENGTH = sizeof PAGE_MESSAGE_PREFIX - 1;
static_assert(PREFIX_LENGTH == 13);

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

}  // namespace

bool launcher_message_of(const std::string& console_text, std::string& json) {
    if (console_text.size() < PREFIX_LENGTH ||
        console_text.compare(0, PREFIX_LENGTH, PAGE_MESSAGE_PREFIX) != 0)
        return false;
    json = console_text.substr(PREFIX_LENGTH);
    return true;
}

PageMessage read_page_message(const std::string& json) {
    PageMessage message;
    message.type = json_string_field(json, "type");
    if (message.type == "nick" || message.type == "changeDir") {
        message.nick = json_string_field(json, "nick");
        message.server_id = json_string_field(json, "serverId");
    } else if (message.type == "link") {
        message.name = json_string_field(json, "name");
    } else if (message.type == "copy") {
        message.text = json_string_field(json, "text");
    }
    return message;
}

std::string json_string_field(const std::string& json, const std::string& name) {
    size_t colon = find_member_colon(json, name);
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
