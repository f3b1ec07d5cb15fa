// One console line of the page, read as the dispatcher reads it: the prefix,
// the type and the string members of its type, and the nick rule.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "launcher/session/page_message.h"

namespace {

bool is_nick_byte(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

void check_nick_rule(const std::string& nick) {
    if (!is_valid_nick(nick)) return;
    FUZZ_CHECK(nick.size() >= 2 && nick.size() <= 20);
    for (char c : nick) FUZZ_CHECK(is_nick_byte(c));
    FUZZ_CHECK(nick.front() != '_' && nick.back() != '_');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line = fuzz_text(data, size);
    std::string json;
    if (!launcher_message_of(line, json)) json = line;  // the reader must cope either way
    FUZZ_CHECK(json.size() <= line.size());

    const PageMessage message = read_page_message(json);
    // Decoding only ever shortens: an escape is at least two bytes for one.
    for (const std::string* value :
         {&message.type, &message.nick, &message.server_id, &message.name, &message.text})
        FUZZ_CHECK(value->size() <= json.size());
    // Each member belongs to the types that carry it, and to no other.
    if (message.type != "nick" && message.type != "changeDir")
        FUZZ_CHECK(message.nick.empty() && message.server_id.empty());
    if (message.type != "link") FUZZ_CHECK(message.name.empty());
    if (message.type != "copy") FUZZ_CHECK(message.text.empty());
    check_nick_rule(message.nick);
    check_nick_rule(json);
    return 0;
}
