#pragma once
// The eight command-line options and the resolution of the game folder.
#include <string>

#include "session_state.h"

// Fills `startup_options` and the start values of `session` from the process
// command line and the executable's own path.
void parse_command_line();

// The same rules on a given command line and executable path (ANSI), into the
// given records; `session` should hold its defaults (see default_session).
void parse_command_line_text(const wchar_t* command_line, const std::string& exe_path_ansi,
                             StartupOptions& options, SessionState& session);

// A session record with the start values that precede the command line.
SessionState default_session();

// The executable's folder: the path cut before its last '\' or '/'.
std::string folder_of(const std::string& path);
