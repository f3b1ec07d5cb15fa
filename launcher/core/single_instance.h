#pragma once
// One launcher per user session, held by the named mutex "Local\KorvalLauncher"
// from the first step of the process to its end.

// Takes the lock. When another instance holds it, that instance's window is
// restored and brought forward, and the result is false: the caller exits 0.
bool acquire_single_instance();

// Releases and closes the lock, so that a successor process (the updated
// launcher) can take it. Safe to call more than once.
void release_single_instance();
