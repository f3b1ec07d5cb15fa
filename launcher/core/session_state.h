#pragma once
// The process-wide records: the start-up values, filled once on the main
// thread before any other thread exists, and the one session record of the
// page, afterwards read and written on the window thread only (no lock).
#include <cstdint>
#include <string>

extern const char LAUNCHER_VERSION[];

struct StartupOptions {
    std::string app_dir;       // launcher's folder, ANSI, no trailing separator
    bool dev = false;          // "--dev"
    bool no_update = false;    // "--no-update"
    std::string updated_from;  // "--updated-from=" value: the previous launcher's version
};

// The result of checking one install-folder candidate.
struct InstallDirCheck {
    std::string path;         // UTF-8, trimmed (and with the product folder for picked ones)
    uint64_t free_bytes = 0;  // free to the user on the nearest existing folder's volume
    std::string error;        // UTF-8; empty when the folder is acceptable
    bool game_present = false;
};

struct SessionState {
    std::string nick;
    bool busy = false;
    bool paused = false;     // the player paused the job; busy stays set
    bool verifying = false;  // the job is the player's check of every file
    std::string main_server_address;  // host:port of server id "main"
    std::string server_address;       // host:port the game is started with
    std::string game_dir;             // ANSI
    bool installed = false;
    InstallDirCheck candidate;
    bool engineering = false;
    bool no_game = false;
    bool fake_error = false;
    std::string autotest_nick;
};

extern StartupOptions startup_options;
extern SessionState session;
