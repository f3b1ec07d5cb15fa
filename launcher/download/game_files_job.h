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
};

// How long a start or stop waits for the previous job to end.
const DWORD JOB_STOP_WAIT_MS = 15000;

// Stops a running job first (see stop_game_files_job), then starts a new one.
// Window thread only.
void begin_game_files_job(const GameFilesRequest& request);

// Asks the running job and its workers to stop and waits for the job up to
// JOB_STOP_WAIT_MS. A stopped job posts nothing more. A job that does not end
// in time is left to finish on its own state; the next job gets fresh state.
// Window thread only.
void stop_game_files_job();
