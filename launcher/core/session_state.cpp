#include "session_state.h"

const char LAUNCHER_VERSION[] = "0.1.4";

StartupOptions startup_options;
SessionState session;
