#pragma once
// The launcher's taskbar button shows what the page shows: the game files
// job's progress (checking without a known share, downloading with its
// percent), an error in red, and a flash when an error or the end of a
// download needs a player whose window is in the background.
#include <string>

#include <windows.h>

enum class TaskbarProgress { Unchanged, None, Indeterminate, Normal, Paused, Error };

struct TaskbarUpdate {
    TaskbarProgress state = TaskbarProgress::Unchanged;
    int percent = 0;     // with Normal and Error; Paused keeps the last one
    bool flash = false;  // when the window is not in front
};

// What one event to the page means for the button. `downloaded` carries
// across events: whether this job has downloaded anything (its end then
// deserves a flash).
TaskbarUpdate taskbar_update_for(const std::string& event_json, bool& downloaded);

// The system's "taskbar button created" message: the button can be driven
// from then on (and again after Explorer restarts), so the taskbar's object
// is taken again then.
UINT taskbar_button_created_message();
void taskbar_attach();
void taskbar_detach();

// Applies an event to the page to the button (window thread only).
void taskbar_show_event(HWND window, const std::string& event_json);
