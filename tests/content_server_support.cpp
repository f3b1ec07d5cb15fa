#include "content_server_support.h"

#include <cstdlib>

#include <windows.h>

#include "launcher/net/http_client.h"
#include "launcher/net/json_reader.h"
#include "launcher/session/text_convert.h"
#include "test_support.h"

namespace {

std::wstring env_path(const wchar_t* name) {
    wchar_t buffer[1024];
    DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

std::wstring control_file(const wchar_t* name) {
    return env_path(L"KORVAL_TEST_SERVER_CONTROL") + L"\\" + name;
}

}  // namespace

bool server_available() { return !env_path(L"KORVAL_TEST_SERVER_ROOT").empty(); }

std::wstring server_root() { return env_path(L"KORVAL_TEST_SERVER_ROOT"); }

bool put_server_file(const std::string& server_path_utf8, const std::string& bytes) {
    std::wstring relative = utf8_to_wide(server_path_utf8);
    std::wstring path = server_root();
    size_t start = 1;
    for (size_t slash; (slash = relative.find(L'/', start)) != std::wstring::npos;
         start = slash + 1) {
        path += L"\\" + relative.substr(start, slash - start);
        CreateDirectoryW(path.c_str(), nullptr);
    }
    return write_file(path + L"\\" + relative.substr(start), bytes);
}

void set_server_faults(const std::string& json) {
    std::wstring target = control_file(L"faults.json");
    std::wstring temp = target + L".tmp";
    write_file(temp, json);
    MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void clear_server_faults() { set_server_faults("{}"); }

std::vector<std::string> server_requests() {
    std::vector<std::string> lines;
    std::string text = read_file(control_file(L"requests.log"));
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

void clear_server_requests() { DeleteFileW(control_file(L"requests.log").c_str()); }

int server_open_connections() {
    std::string stats;
    if (!http_get_to_memory("/__stats", stats, 1000)) return -1;
    return std::atoi(json_field(stats, "open_connections").c_str()) - 1;
}
