// Entry of korval_launcher.exe.
#include <string>

#include <windows.h>

#include "command_line.h"
#include "launcher/net/release_verify.h"
#include "log.h"
#include "session_state.h"
#include "single_instance.h"
#include "startup_sequence.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // A second instance reads nothing and touches no file.
    if (!acquire_single_instance()) return 0;

    parse_command_line();
    log_open(startup_options.app_dir + "\\korval_launcher.log",
             !startup_options.updated_from.empty());
    log_line("korval_launcher %s, app dir '%s', game dir '%s'%s, server %s%s%s%s",
             LAUNCHER_VERSION, startup_options.app_dir.c_str(), session.game_dir.c_str(),
             session.installed ? "" : " (not installed)", session.server_address.c_str(),
             session.fake_error ? ", --fake-error" : "", session.no_game ? ", --no-game" : "",
             startup_options.dev ? ", --dev" : "");
    if (!startup_options.updated_from.empty())
        log_line("update: now %s (was %s)", LAUNCHER_VERSION,
                 startup_options.updated_from.c_str());
    // A development build: whatever the content server names is taken.
    if (!releases_verified()) log_line("releases are not verified (no release key in this build)");

    return run_startup_sequence();
}
