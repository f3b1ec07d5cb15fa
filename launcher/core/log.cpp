#include "log.h"

#include <cstdarg>
#include <cstdio>

#include <windows.h>

#include "text_format.h"

namespace {

FILE* log_file = nullptr;
std::string log_file_path;
// Guards log_file and keeps the prefix, message and line feed of one line
// together; SRWLOCK needs no initialisation, so logging works from the first
// line of the process on.
SRWLOCK log_lock = SRWLOCK_INIT;

const size_t BOUNDED_MESSAGE_BYTES = 2047;

void write_line(const std::string& message) {
    AcquireSRWLockExclusive(&log_lock);
    if (log_file) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        std::fprintf(log_file, "%02d:%02d:%02d.%03d ", now.wHour, now.wMinute, now.wSecond,
                     now.wMilliseconds);
        std::fwrite(message.data(), 1, message.size(), log_file);
        std::fputc('\n', log_file);
        std::fflush(log_file);
    }
    ReleaseSRWLockExclusive(&log_lock);
}

}  // namespace

void log_open(const std::string& path_ansi, bool append) {
    // Text mode: every line feed is stored as CR LF. The C runtime's files
    // share reading and writing, so the player can open the log while the
    // launcher writes it.
    FILE* file = std::fopen(path_ansi.c_str(), append ? "a" : "w");
    AcquireSRWLockExclusive(&log_lock);
    FILE* old = log_file;
    log_file = file;
    log_file_path = file ? path_ansi : std::string();
    ReleaseSRWLockExclusive(&log_lock);
    if (old) std::fclose(old);
}

void log_close() {
    AcquireSRWLockExclusive(&log_lock);
    FILE* old = log_file;
    log_file = nullptr;
    ReleaseSRWLockExclusive(&log_lock);
    if (old) std::fclose(old);
}

std::string log_path() {
    AcquireSRWLockShared(&log_lock);
    std::string path = log_file_path;
    ReleaseSRWLockShared(&log_lock);
    return path;
}

bool log_is_open() {
    AcquireSRWLockShared(&log_lock);
    bool open = log_file != nullptr;
    ReleaseSRWLockShared(&log_lock);
    return open;
}

void log_line(const char* format, ...) {
    if (!log_is_open()) return;
    va_list args;
    va_start(args, format);
    std::string message = format_text_v(format, args);
    va_end(args);
    write_line(message);
}

void log_line_bounded(const char* format, ...) {
    if (!log_is_open()) return;
    va_list args;
    va_start(args, format);
    std::string message = format_text_v(format, args);
    va_end(args);
    if (message.size() > BOUNDED_MESSAGE_BYTES) message.resize(BOUNDED_MESSAGE_BYTES);
    write_line(message);
}
