#pragma once
// The launcher replaces its own executable when the content server names a
// newer version, and restarts. Every file step can be undone; any failure
// rolls back to the running version and the start goes on.
#include <string>

// Full path of the running executable.
std::wstring executable_path();

// Deletes "{exe}.old" left by an earlier update, retrying for about 3 s
// while the previous launcher may still be exiting.
void remove_old_executable();

// True when a newer launcher has been started: the caller closes its log and
// exits 0 at once. To let the new process take the single-instance lock,
// this releases and closes that lock before the start (release_single_instance)
// and does not take it again when the start fails; releasing it later is a
// no-op, so the caller never closes it twice.
bool self_update(const char* current_version);
