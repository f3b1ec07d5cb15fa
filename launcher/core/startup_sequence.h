#pragma once
// What follows the command line and the log: self-update, browser runtime,
// window and message loop, then the orderly shutdown. Returns the exit code.
int run_startup_sequence();
