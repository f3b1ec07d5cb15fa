#pragma once
// The launcher's private window messages: the only way from other threads
// (the game files job) to the window thread, which is also the browser's UI
// thread. Messages posted by one thread are handled in posting order.
#include <windows.h>

// lParam: a heap text (allocated with new char[]) holding one event's JSON;
// ownership passes with the message, and the receiver frees it with delete[].
const UINT WM_PAGE_EVENT = WM_APP + 1;
// All game files are present and correct: start the game.
const UINT WM_START_GAME = WM_APP + 2;
// Run the folder dialog outside the console callback that asked for it.
const UINT WM_PICK_DIR = WM_APP + 3;
// The player's check of the game files ended with every file in place:
// wParam files downloaded again, lParam files checked.
const UINT WM_FILES_CHECKED = WM_APP + 4;

// Closes the window 1.5 s after the game was started.
const UINT_PTR CLOSE_TIMER_ID = 1;

// The launcher's top-level window; null until the start-up sequence creates it.
extern HWND main_window;
