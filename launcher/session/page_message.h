#pragma once
// Reading the page's messages: console lines that begin with "__launcher__:"
// carry one JSON message. Only reading, no system call: what the message does
// is the dispatcher's, and the reader also builds natively for the fuzzers.
#include <string>

const char PAGE_MESSAGE_PREFIX[] = "__launcher__:";

// The JSON text after the prefix, or false for ordinary console output.
bool launcher_message_of(const std::string& console_text, std::string& json);

// What the dispatcher acts on: the type and the string members its type
// carries (nick and serverId of "nick" and "changeDir", name of "link", text
// of "copy"); others stay empty.
struct PageMessage {
    std::string type;
    std::string nick;
    std::string server_id;
    std::string name;
    std::string text;
};

PageMessage read_page_message(const std::string& json);

// The decoded value of the first string member `name` of a message, read
// without regard to nesting; empty when absent or unterminated. \n, \uXXXX
// below 128 and single-byte escapes are decoded; \u above 127 is dropped.
std::string json_string_field(const std::string& json, const std::string& name);

// 2 to 20 ASCII letters and digits, or two such parts of at least 2 each
// joined by one underscore.
bool is_valid_nick(const std::string& nick);
