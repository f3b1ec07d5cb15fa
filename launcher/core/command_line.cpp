#include "command_line.h"

#include <vector>

#include <windows.h>
#include <shellapi.h>

#include "build_config.h"
#include "launcher/session/game_dir_setting.h"
#include "option_table.h"

namespace {

// One argument in the ANSI code page, as the option table compares bytes.
const int ARGUMENT_BUFFER = 1024;

// The ANSI form of one argument, or false when it does not fit the buffer;
// such an argument is dropped rather than cut, since a cut path or address
// would silently point somewhere else.
bool argument_to_ansi(const wchar_t* arg, std::string& out) {
    char buffer[ARGUMENT_BUFFER];
    int n = WideCharToMultiByte(CP_ACP, 0, arg, -1, buffer, ARGUMENT_BUFFER, nullptr, nullptr);
    if (n <= 0) return false;
    out.assign(buffer, static_cast<size_t>(n - 1));
    return true;
}

std::vector<std::string> split_arguments(const wchar_t* command_line) {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(command_line, &count);
    if (!argv) return args;
    for (int i = 1; i < count; ++i) {
        std::string arg;
        if (argument_to_ansi(argv[i], arg) && !arg.empty()) args.push_back(arg);
    }
    LocalFree(argv);
    return args;
}

std::string executable_path_ansi() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n < MAX_PATH ? n : MAX_PATH - 1);
}

}  // namespace

std::string folder_of(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

SessionState default_session() {
    SessionState s;
    s.main_server_address = KORVAL_GAME_SERVER_HOST ":7777";
    s.server_address = s.main_server_address;
    return s;
}

void parse_command_line_text(const wchar_t* command_line, const std::string& exe_path_ansi,
                             StartupOptions& options, SessionState& session) {
    apply_arguments(split_arguments(command_line), options, session);

    session.main_server_address = session.server_address;
    session.engineering = options.dev;
    options.app_dir = folder_of(exe_path_ansi);

    if (session.game_dir.empty()) {
        if (game_present_ansi(options.app_dir))
            session.game_dir = options.app_dir;
        else
            session.game_dir = read_game_dir_setting();
    }
    session.installed = game_present_ansi(session.game_dir);
}

void parse_command_line() {
    session = default_session();
    parse_command_line_text(GetCommandLineW(), executable_path_ansi(), startup_options, session);
}
