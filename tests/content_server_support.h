#pragma once
// The test content server as seen from a test program (started around it by
// tools/with_content_server.sh): its served folder, scripted faults and the
// log of the requests it received.
#include <string>
#include <vector>

// The served folder (Windows path); a file at "root\a\b" is served as "/a/b".
std::wstring server_root();
// Puts a file under the served folder, creating its folders.
bool put_server_file(const std::string& server_path_utf8, const std::string& bytes);

// Replaces the scripted faults: a JSON object of path -> fault (see the
// server's usage text). Written atomically, effective from the next request.
void set_server_faults(const std::string& json);
void clear_server_faults();

// One JSON line per request received so far, oldest first.
std::vector<std::string> server_requests();
void clear_server_requests();

// Connections the server holds open right now, not counting the one asking.
int server_open_connections();

// Whether the current test program runs with a server around it.
bool server_available();
