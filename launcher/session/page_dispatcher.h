#pragma once
// The page's messages: console lines that begin with "__launcher__:" carry
// one JSON message, which drives the session record (nick, server, install
// folder, the game files job). Everything here runs on the window thread.
#include <string>

#include "launcher/browser/cef_objects.h"
#include "launcher/session/page_message.h"

// The display handler's console callback. 1 when the line was a launcher
// message (handled before returning), 0 for ordinary console output, which
// is copied into the log.
int dispatch_page_message(const cef_string_t* message, const cef_string_t* source, int line);

// The page's nick message; also what "--autotest=" does after "ready".
void handle_nick(const std::string& nick, const std::string& server_id);

// Marks the session busy and starts the game files job for the game folder.
void start_game_files_job();

// The test server: the game server's host on port 7778, whatever "--server=" says.
std::string test_server_address();
