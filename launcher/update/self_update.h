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

// True when this process is to end at once, and the caller closes its log and
// exits 0: a newer launcher has been started, or its start failed and another
// launcher took the single-instance lock in the meantime (this one ends as a
// second instance does, that one's window brought forward). To let the new
// process take the lock, this releases and closes it before the start
// (release_single_instance); after a failed start it takes it again, so a
// process that runs on (false) always holds it.
// `updated_from` is the "--updated-from=" value (empty when not started by an
// update). A process whose update left it at or below that version does not
// update again: the published executable is not what the record says.
bool self_update(const char* current_version, const char* updated_from);
