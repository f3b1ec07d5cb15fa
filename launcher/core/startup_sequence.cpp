#include "startup_sequence.h"

#include <windows.h>
#include <objbase.h>

#include "launcher/browser/browser_client.h"
#include "launcher/browser/browser_runtime.h"
#include "launcher/browser/cef_api.h"
#include "launcher/update/self_update.h"
#include "log.h"
#include "main_window.h"
#include "session_state.h"
#include "single_instance.h"

namespace {

const wchar_t NO_RUNTIME_TEXT[] =
    L"Не удалось запустить встроенный браузер (папка cef рядом с лаунчером).";

int finish(int exit_code) {
    log_close();
    release_single_instance();
    return exit_code;
}

}  // namespace

int run_startup_sequence() {
    remove_old_executable();
    if (!startup_options.no_update &&
        self_update(LAUNCHER_VERSION, startup_options.updated_from.c_str())) {
        // A newer launcher runs now with this command line (it owns the
        // log), or another one took the lock while the update held none.
        log_close();
        return 0;
    }

    // The folder dialog and the shell need an apartment on this thread.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    if (!init_browser_runtime()) {
        // The reason is in the log already.
        MessageBoxW(nullptr, NO_RUNTIME_TEXT, MAIN_WINDOW_TITLE, MB_ICONERROR);
        return finish(1);
    }
    if (!create_main_window()) return finish(1);
    create_browser_window();

    // Everything else happens in window messages and browser callbacks until
    // the window's destruction quits the loop.
    cef_api.run_message_loop();

    cef_api.shutdown();
    log_line("exit");
    return finish(0);
}
