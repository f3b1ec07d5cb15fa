#pragma once
// The reader of the content server's documents (the launcher version record
// and the game file manifest): one named field's raw text at a time, and the
// check that a path taken out of such a document is safe to request.
#include <string>

// The raw text of the first field called `name` anywhere in `text`: the bytes
// between the quotes of a string value (escapes left as they stand), or a bare
// token up to the next comma, closing brace or blank. Empty when absent or
// malformed; callers treat empty as missing.
std::string json_field(const std::string& text, const char* name);

// The position of the colon after the first occurrence of `"name"` that is
// a member name: followed, after blanks, by a colon. A string value that
// happens to spell a member's name ("type":"nick") is no member; npos when
// there is none.
size_t find_member_colon(const std::string& text, const std::string& name);

// True for a server path of 1 to 300 bytes that starts with '/', holds no ".."
// and no "//", and consists of ASCII letters, digits and "-._/$" only.
bool is_safe_server_path(const std::string& path);
