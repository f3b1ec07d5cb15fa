#include "startup_sequence.h"

#include "launcher/update/self_update.h"
#include "log.h"
#include "session_state.h"

int run_startup_sequence() {
    remove_old_executable();
    if (!startup_options.no_update && self_update(LAUNCHER_VERSION)) {
        // A newer launcher runs now with this command line; it owns the log.
        log_close();
        return 0;
    }

    // The window and the browser are not wired in yet: end as an orderly run.
    log_line("exit");
    log_close();
    return 0;
}
