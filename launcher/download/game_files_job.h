#pragma once
// The game files job: brings the install folder up to date with the content
// server on a thread of its own and reports to the window by posted messages
// only (progress and error events, WM_START_GAME when every file is in
// place). It never touches the browser or the session record: it works on a
// copy of the request.
#include <string>

#include <windows.h>

struct GameFilesRequest {
    std::string install_dir;  // ANSI code page
    bool fake_error = false;  // "--fake-error": break the first download once at 30 %
    HWND window = nullptr;    // receives WM_PAGE_EVENT and WM_START_GAME
    // The player's check: every present file is hashed, whatever the index
    // says, and the job ends with WM_FILES_CHECKED instead of the game start.
    bool verify_all = false;
};

// How long a start or stop waits for the previous job to end.
const DWORD JOB_STOP_WAIT_MS = 15000;

// Stops a running job first (see stop_game_files_job), then starts a new one.
// Window thread only.
void begin_game_files_job(const GameFilesRequest& request);

enum class JobStop {
    Hard,   // a close, a new job: the index is not written again
    Pause,  // the player's pause or cancel: the index of what is in place is saved first
};

// Asks the running job and its workers to stop and waits for the job up to
// JOB_STOP_WAIT_MS. A stopped job posts nothing more. A job that does not end
// in time is left to finish on its own state (and never writes the index
// again); the next job gets fresh state. Window thread only.
void stop_game_files_job(JobStop how = JobStop::Hard);

// True while a job's workers download files (window thread only): what a
// close would interrupt.
bool game_files_job_downloading();
