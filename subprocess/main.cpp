// korval.exe: the browser runtime's sub-process program. It loads the runtime
// from its own folder and hands control to it; a failure shows only in the
// exit code, since there is no window and no log.
#include <windows.h>

#include "launcher/browser/cef_types.h"

namespace {

const int EXIT_NO_LIBRARY = 1;
const int EXIT_NO_FUNCTION = 2;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The bare name: the copy beside this program comes first in the search.
    HMODULE library = LoadLibraryA("libcef.dll");
    if (!library) return EXIT_NO_LIBRARY;
    FARPROC api_hash_proc = GetProcAddress(library, "cef_api_hash");
    FARPROC execute_proc = GetProcAddress(library, "cef_execute_process");
    if (!api_hash_proc || !execute_proc) return EXIT_NO_FUNCTION;
    auto api_hash = reinterpret_cast<cef_api_hash_fn>(reinterpret_cast<void*>(api_hash_proc));
    auto execute_process =
        reinterpret_cast<cef_execute_process_fn>(reinterpret_cast<void*>(execute_proc));

    // Fixes the API version before any other call, the same as the launcher's.
    api_hash(BROWSER_API_VERSION, 0);
    cef_main_args_t args{instance};
    return execute_process(&args, nullptr, nullptr);
}
