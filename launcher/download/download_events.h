#pragma once
// What the game files job tells the page: progress and error events, built
// on the job's thread and posted to the window as heap texts (WM_PAGE_EVENT),
// and the megabyte figures of its texts.
#include <cstdint>
#include <string>

#include <windows.h>

// The event texts themselves are the page protocol's writer.
#include "launcher/session/json_writer.h"

// Bytes as whole mebibytes, rounded as "%.0f" rounds.
std::string format_megabytes(uint64_t bytes);

// `part` of `whole` in whole percent, rounded down; 100 for nothing to do.
// Games run to many gigabytes: every figure here is 64-bit.
int percent_of(uint64_t part, uint64_t whole);

// "Файл N из M · D из T МБ · S МБ/с", the download's details line.
std::string download_details_text(unsigned current, unsigned count, uint64_t done_bytes,
                                  uint64_t need_bytes, double megabytes_per_second);

// Posts a heap copy of `text` with WM_PAGE_EVENT; the window frees it. When
// the post fails (no such window, full queue) the copy is freed here, and the
// result is false.
bool post_page_event(HWND window, const std::string& text);

// The receiving side: the text of a WM_PAGE_EVENT's lParam, freed.
std::string take_page_event_text(LPARAM text);

// Frees the texts of every WM_PAGE_EVENT still queued for `window` without
// sending them: for a window that goes, or a job whose last words are stale.
void discard_queued_page_events(HWND window);

// Texts posted and not yet taken: what a queue dropped with its window
// would leak.
long page_event_texts_in_flight();

bool post_progress_event(HWND window, const std::string& title, const std::string& details,
                         int percent, bool indeterminate,
                         const ProgressFigures& figures = ProgressFigures());

// Logs "!! download: title: message" and posts the error event.
bool post_download_error(HWND window, const std::string& title, const std::string& message);
