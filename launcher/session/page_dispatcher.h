#pragma once
// The page's messages: console lines that begin with "__launcher__:" carry
// one JSON message, which drives the session record (nick, server, install
// folder, the game files job). Everything here runs on the window thread.
#include <string>

#include "launcher/browser/cef_objects.h"

// The display handler's console callback. 1 when the line was a launcher
// message (handled before returning), 0 for ordinary console output, which
// is copied into the log.
int dispatch_page_message(const cef_string_t* message, const cef_string_t* source, int line);

// The decoded value of the first string member `name` of a message, read
// without regard to nesting; empty when absent or unterminated. \n, \uXXXX
// below 128 and single-byte escapes are decoded; \u above 127 is dropped.
std::string json_string_field(const std::string& json, const std::string& name);

// 2 to 20 ASCII letters and digits, or two such parts of at least 2 each
// joined by one underscore.
bool is_valid_nick(const std::string& nick);

// The page's nick message; also what "--autotest=" does after "ready".
void handle_nick(const std::string& nick, const std::string& server_id);

// Marks the session busy and starts the game files job for the game folder.
void start_game_files_job();

// The test server: the game server's host on port 7778, whatever "--server=" says.
std::string test_server_address();
