#pragma once
// The launcher replaces its own executable when the content server names a
// newer version, and restarts. Every file step can be undone; any failure
// rolls back to the running version and the start goes on.
#include <string>

// Full path of the running executable; empty when it cannot be had (longer
// than MAX_PATH, or the system does not say).
std::wstring executable_path();

// Deletes "{exe}.old" left by an earlier update, retrying for about 3 s
// while the previous launcher may still be exiting.
void remove_old_executable();

// True when a newer launcher has been started: the caller closes its log and
// exits 0 at once. To let the new process take the single-instance lock,
// this releases and closes that lock before the start (release_single_instance)
// and does not take it again when the start fails; releasing it later is a
// no-op, so the caller never closes it twice.
// `updated_from` is the "--updated-from=" value (empty when not started by an
// update). A process whose update left it at or below that version does not
// update again: the published executable is not what the record says.
bool self_update(const char* current_version, const char* updated_from);
