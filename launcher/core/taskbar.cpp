#include "taskbar.h"

#include <cstdlib>

#include <shobjidl.h>

#include "com_ptr.h"
#include "launcher/net/json_reader.h"

namespace {

// Spelled out, as the folder dialog's are: MinGW's libuuid may lack them.
const CLSID TASKBAR_LIST_CLSID = {
    0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const IID TASKBAR_LIST3_IID = {
    0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

// Window thread only.
ComPtr<ITaskbarList3> taskbar;
bool downloaded = false;

TBPFLAG flag_of(TaskbarProgress state) {
    switch (state) {
    case TaskbarProgress::Indeterminate:
        return TBPF_INDETERMINATE;
    case TaskbarProgress::Normal:
        return TBPF_NORMAL;
    case TaskbarProgress::Paused:
        return TBPF_PAUSED;
    case TaskbarProgress::Error:
        return TBPF_ERROR;
    default:
        return TBPF_NOPROGRESS;
    }
}

}  // namespace

TaskbarUpdate taskbar_update_for(const std::string& event_json, bool& downloaded_so_far) {
    TaskbarUpdate update;
    const std::string type = json_field(event_json, "type");
    if (type == "progress") {
        const std::string phase = json_field(event_json, "phase");
        if (phase == "download") downloaded_so_far = true;
        if (phase == "done") {
            update.state = TaskbarProgress::None;
            update.flash = downloaded_so_far;
            downloaded_so_far = false;
        } else if (json_field(event_json, "indeterminate") == "true") {
            update.state = TaskbarProgress::Indeterminate;
        } else {
            update.state = TaskbarProgress::Normal;
            int percent = std::atoi(json_field(event_json, "percent").c_str());
            update.percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
        }
    } else if (type == "error") {
        update.state = TaskbarProgress::Error;
        update.percent = 100;
        update.flash = true;
        downloaded_so_far = false;
    } else if (type == "paused") {
        update.state = TaskbarProgress::Paused;
    } else if (type == "launching" || type == "cancelled") {
        update.state = TaskbarProgress::None;
        if (type == "cancelled") downloaded_so_far = false;
    }
    return update;
}

UINT taskbar_button_created_message() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
    return message;
}

void taskbar_attach() {
    if (FAILED(CoCreateInstance(TASKBAR_LIST_CLSID, nullptr, CLSCTX_INPROC_SERVER,
                                TASKBAR_LIST3_IID, taskbar.out_void())) ||
        FAILED(taskbar->HrInit()))
        taskbar.reset();
}

void taskbar_detach() { taskbar.reset(); }

void taskbar_show_event(HWND window, const std::string& event_json) {
    const TaskbarUpdate update = taskbar_update_for(event_json, downloaded);
    if (taskbar && update.state != TaskbarProgress::Unchanged) {
        taskbar->SetProgressState(window, flag_of(update.state));
        if (update.state == TaskbarProgress::Normal || update.state == TaskbarProgress::Error)
            taskbar->SetProgressValue(window, static_cast<ULONGLONG>(update.percent), 100);
    }
    if (update.flash && GetForegroundWindow() != window) {
        FLASHWINFO flash{sizeof flash, window, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
        FlashWindowEx(&flash);
    }
}
