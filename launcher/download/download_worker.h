#pragma once
// A download worker: one of the threads that bring missing or damaged game
// files from the content server. Workers take files from the run's queue one
// at a time, download each into "<file>.part" (resuming what is there after
// hashing it again), check size and SHA-256, retry up to three attempts and
// move the result into place. The first failure a worker cannot overcome is
// recorded for the whole run and stops every worker.
#include <cstdint>

#include <windows.h>

struct DownloadRun;

// Thread procedure; `param` is the DownloadRun, which outlives the thread.
DWORD WINAPI download_worker(LPVOID param);

// Pauses after the first, second and third failed attempt of a file.
const DWORD FIRST_RETRY_PAUSE_MS = 1500;
const int MAX_FILE_ATTEMPTS = 3;
