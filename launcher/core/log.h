#pragma once
// The launcher's one diagnostic channel: "korval_launcher.log" beside the
// executable, one time-stamped line per call, flushed at once so the file is
// complete up to the last line even when the process ends abruptly.
#include <string>

// Opens the log at an ANSI path: truncated, or appended to when the launcher
// was restarted by its own update. A file that cannot be opened leaves the
// launcher running without a log.
void log_open(const std::string& path_ansi, bool append);
void log_close();
bool log_is_open();
// The open log's ANSI path; empty without a log.
std::string log_path();

// "hh:mm:ss.mmm " + message + line feed. No effect without an open log.
// Lines from different threads never mix: each line is written under a lock.
void log_line(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Like log_line, but the message is cut to its first 2047 bytes; for texts that
// come from outside (page requests, server answers).
void log_line_bounded(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
