#include "download_events.h"

#include <cstdio>
#include <cstring>

#include "launcher/core/log.h"
#include "launcher/core/window_messages.h"
#include "launcher/session/json_writer.h"

std::string format_megabytes(uint64_t bytes) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.0f", static_cast<double>(bytes) / 1048576.0);
    return buffer;
}

std::string progress_event_text(const std::string& title, const std::string& details,
                                int percent, bool indeterminate) {
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "\"percent\":%d,\"indeterminate\":%s", percent,
                  indeterminate ? "true" : "false");
    return "{\"type\":\"progress\",\"title\":" + json_quote(title) +
           ",\"details\":" + json_quote(details) + "," + numbers + "}";
}

std::string error_event_text(const std::string& title, const std::string& message) {
    return "{\"type\":\"error\",\"title\":" + json_quote(title) +
           ",\"message\":" + json_quote(message) + "}";
}

bool post_page_event(HWND window, const std::string& text) {
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    if (PostMessageW(window, WM_PAGE_EVENT, 0, reinterpret_cast<LPARAM>(copy))) return true;
    // Nobody will receive it, so nobody else will free it.
    delete[] copy;
    return false;
}

bool post_progress_event(HWND window, const std::string& title, const std::string& details,
                         int percent, bool indeterminate) {
    return post_page_event(window, progress_event_text(title, details, percent, indeterminate));
}

bool post_download_error(HWND window, const std::string& title, const std::string& message) {
    log_line("!! download: %s: %s", title.c_str(), message.c_str());
    return post_page_event(window, error_event_text(title, message));
}
