#include "shell_actions.h"

#include <cstring>

#include <shellapi.h>

#include "launcher/session/text_convert.h"
#include "win_handles.h"

namespace {

const int CLIPBOARD_TRIES = 10;
// A log is a few hundred kilobytes; a copy never takes more than this.
const DWORD COPY_LIMIT_BYTES = 16 * 1048576;
const DWORD CLIPBOARD_RETRY_MS = 20;
const char UTF8_BOM[] = "\xEF\xBB\xBF";

std::string with_code(const char* what, DWORD code) {
    return std::string(what) + " (" + std::to_string(code) + ")";
}

// `error` gets the system's code when the shell refuses.
bool shell_open(HWND owner, const wchar_t* file, const wchar_t* parameters, DWORD& error) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // No "open with" dialog, and the call returns only once the start is
    // decided, so the result is the real one.
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = owner;
    info.lpVerb = L"open";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) return true;
    error = GetLastError();
    return false;
}

// The copy is for a viewer, which reads one encoding: the log holds UTF-8 and
// the ANSI code page side by side, and Notepad takes a UTF-8 file for UTF-8
// only by its byte-order mark.
bool copy_as_utf8(const std::wstring& from, const std::wstring& to, std::string& error) {
    UniqueHandle source(CreateFileW(from.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source.valid()) {
        error = with_code("cannot read", GetLastError());
        return false;
    }
    // As long as the log is now (it may grow meanwhile; the copy is of this moment).
    LARGE_INTEGER size;
    if (!GetFileSizeEx(source.get(), &size)) {
        error = with_code("cannot read", GetLastError());
        return false;
    }
    const DWORD want = size.QuadPart < COPY_LIMIT_BYTES ? static_cast<DWORD>(size.QuadPart)
                                                        : COPY_LIMIT_BYTES;
    std::string bytes(want, '\0');
    DWORD got = 0;
    if (!ReadFile(source.get(), bytes.data(), want, &got, nullptr)) {
        error = with_code("cannot read", GetLastError());
        return false;
    }
    bytes.resize(got);
    const std::string text = UTF8_BOM + mixed_text_to_utf8(bytes);
    UniqueHandle target(CreateFileW(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD length = static_cast<DWORD>(text.size());
    DWORD written = 0;
    if (!target.valid() || !WriteFile(target.get(), text.data(), length, &written, nullptr) ||
        written != length) {
        error = with_code("cannot write the copy", GetLastError());
        return false;
    }
    return true;
}

}  // namespace

bool copy_to_clipboard(HWND owner, const std::wstring& text, std::string& error) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) {
        error = with_code("no memory for the clipboard", GetLastError());
        return false;
    }
    void* target = GlobalLock(memory);
    std::memcpy(target, text.c_str(), bytes);
    GlobalUnlock(memory);

    bool opened = false;
    for (int i = 0; i < CLIPBOARD_TRIES && !opened; ++i) {
        opened = OpenClipboard(owner) != FALSE;
        if (!opened) Sleep(CLIPBOARD_RETRY_MS);
    }
    if (!opened) {
        error = with_code("the clipboard is held by another program", GetLastError());
        GlobalFree(memory);
        return false;
    }
    EmptyClipboard();
    // Once set, the memory is the system's.
    const bool set = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    if (!set) {
        error = with_code("the clipboard refused the text", GetLastError());
        GlobalFree(memory);
    }
    CloseClipboard();
    return set;
}

OpenedWith open_text_copy(HWND owner, const std::wstring& path, const wchar_t* copy_name,
                          std::string& error) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
        error = with_code("no temporary folder", GetLastError());
        return OpenedWith::Failed;
    }
    const std::wstring copy = std::wstring(temp) + copy_name;
    if (!copy_as_utf8(path, copy, error)) return OpenedWith::Failed;
    DWORD code = 0;
    if (shell_open(owner, copy.c_str(), nullptr, code)) return OpenedWith::Viewer;
    // No viewer registered (Windows says 1155; Wine may try to run the file
    // and say 193): Notepad is on every system.
    const DWORD viewer_code = code;
    const std::wstring quoted = L"\"" + copy + L"\"";
    if (shell_open(owner, L"notepad.exe", quoted.c_str(), code)) return OpenedWith::Notepad;
    error = with_code("no viewer", viewer_code) + ", " + with_code("no Notepad", code);
    return OpenedWith::Failed;
}

bool open_folder(HWND owner, const std::wstring& path, std::string& error) {
    DWORD code = 0;
    if (shell_open(owner, path.c_str(), nullptr, code)) return true;
    error = with_code("cannot open", code);
    return false;
}
