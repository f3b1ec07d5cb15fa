// The option table on any argument list: the input's zero bytes separate
// the arguments. Each option lands in its own field, the last occurrence
// wins, and nothing else changes the records.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "launcher/core/option_table.h"

namespace {

std::vector<std::string> split_at_zero(const std::string& text) {
    std::vector<std::string> args;
    size_t start = 0;
    for (size_t at; (at = text.find('\0', start)) != std::string::npos; start = at + 1)
        args.push_back(text.substr(start, at - start));
    args.push_back(text.substr(start));
    return args;
}

bool starts_with(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> args = split_at_zero(fuzz_text(data, size));
    StartupOptions options;
    SessionState session;
    session.server_address = "203.0.113.10:7777";
    apply_arguments(args, options, session);

    // The expected records, computed from the arguments by their last occurrence.
    std::string server = "203.0.113.10:7777", game_dir, autotest, updated_from;
    bool fake_error = false, no_game = false, dev = false, no_update = false;
    for (const std::string& arg : args) {
        if (starts_with(arg, "--server=")) server = arg.substr(9);
        else if (starts_with(arg, "--game-dir=")) game_dir = arg.substr(11);
        else if (starts_with(arg, "--autotest=")) autotest = arg.substr(11);
        else if (arg == "--fake-error") fake_error = true;
        else if (arg == "--no-game") no_game = true;
        else if (arg == "--dev") dev = true;
        else if (arg == "--no-update") no_update = true;
        else if (starts_with(arg, "--updated-from=")) updated_from = arg.substr(15);
    }
    FUZZ_CHECK(session.server_address == server && session.game_dir == game_dir);
    FUZZ_CHECK(session.autotest_nick == autotest && options.updated_from == updated_from);
    FUZZ_CHECK(session.fake_error == fake_error && session.no_game == no_game);
    FUZZ_CHECK(options.dev == dev && options.no_update == no_update);
    FUZZ_CHECK(session.nick.empty() && !session.busy && options.app_dir.empty());
    return 0;
}
