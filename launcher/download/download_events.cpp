#include "launcher/download/download_events.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "launcher/core/log.h"
#include "launcher/core/window_messages.h"

namespace {

std::atomic<long> texts_in_flight{0};

}  // namespace

std::string format_megabytes(uint64_t bytes) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.0f", static_cast<double>(bytes) / 1048576.0);
    return buffer;
}

int percent_of(uint64_t part, uint64_t whole) {
    if (whole == 0) return 100;
    if (part >= whole) return 100;
    // part * 100 would overflow only past 184 petabytes; the division keeps
    // the figure exact below that.
    return static_cast<int>(part * 100 / whole);
}

std::string download_details_text(unsigned current, unsigned count, uint64_t done_bytes,
                                  uint64_t need_bytes, double megabytes_per_second) {
    char details[200];
    std::snprintf(details, sizeof details, "Файл %u из %u · %s из %s МБ · %.1f МБ/с", current,
                  count, format_megabytes(done_bytes).c_str(),
                  format_megabytes(need_bytes).c_str(), megabytes_per_second);
    return details;
}

bool post_page_event(HWND window, const std::string& text) {
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    texts_in_flight.fetch_add(1);
    if (PostMessageW(window, WM_PAGE_EVENT, 0, reinterpret_cast<LPARAM>(copy))) return true;
    // Nobody will receive it, so nobody else will free it.
    take_page_event_text(reinterpret_cast<LPARAM>(copy));
    return false;
}

std::string take_page_event_text(LPARAM text) {
    char* copy = reinterpret_cast<char*>(text);
    if (!copy) return std::string();
    std::string out(copy);
    delete[] copy;
    texts_in_flight.fetch_sub(1);
    return out;
}

void discard_queued_page_events(HWND window) {
    MSG msg;
    while (PeekMessageW(&msg, window, WM_PAGE_EVENT, WM_PAGE_EVENT, PM_REMOVE))
        take_page_event_text(msg.lParam);
}

long page_event_texts_in_flight() { return texts_in_flight.load(); }

bool post_progress_event(HWND window, const std::string& title, const std::string& details,
                         int percent, bool indeterminate, const ProgressFigures& figures) {
    return post_page_event(window,
                           progress_event_text(title, details, percent, indeterminate, figures));
}

bool post_download_error(HWND window, const std::string& title, const std::string& message) {
    log_line("!! download: %s: %s", title.c_str(), message.c_str());
    return post_page_event(window, error_event_text(title, message));
}
