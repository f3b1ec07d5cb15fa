#pragma once
// The page server's rules for an address of "http://ui/": which file of the
// page answers it and with what type. Only text rules, no system call, so
// that they also build natively for the fuzzers.
#include <string>
#include <string_view>

const char UI_ORIGIN[] = "http://ui/";

// The page file an address asks for: the path after the origin without query
// or fragment, "index.html" for a folder. Status 400 (and no path) for an
// address outside the origin, one that climbs ("..") or one whose path holds
// a backslash or a zero byte; status 0 otherwise.
struct UiRequestTarget {
    int status = 0;
    std::string path;
};

UiRequestTarget ui_request_target(const std::string& url);

// False for a path that the override folder must not be asked for: a device
// name in any component would read a device, or wait on a serial port, and a
// colon would name a stream or a drive instead of a file of the folder.
bool may_read_override(const std::string& path);

// The MIME type for the extension after the last "." of `path`.
const char* mime_type_for(std::string_view path);
