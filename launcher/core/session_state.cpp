#include "session_state.h"

#include "window_messages.h"

const char LAUNCHER_VERSION[] = "0.1.4";

StartupOptions startup_options;
SessionState session;
HWND main_window = nullptr;
