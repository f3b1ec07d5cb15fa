#include "option_table.h"

#include <cstring>

namespace {

enum class OptionKind { prefix, flag };

struct OptionRule {
    const char* text;
    OptionKind kind;
    void (*apply)(const std::string& value, StartupOptions&, SessionState&);
};

// Order matters: the first rule that matches decides.
const OptionRule OPTION_RULES[] = {
    {"--server=", OptionKind::prefix,
     [](const std::string& v, StartupOptions&, SessionState& s) { s.server_address = v; }},
    {"--game-dir=", OptionKind::prefix,
     [](const std::string& v, StartupOptions&, SessionState& s) { s.game_dir = v; }},
    {"--autotest=", OptionKind::prefix,
     [](const std::string& v, StartupOptions&, SessionState& s) { s.autotest_nick = v; }},
    {"--fake-error", OptionKind::flag,
     [](const std::string&, StartupOptions&, SessionState& s) { s.fake_error = true; }},
    {"--no-game", OptionKind::flag,
     [](const std::string&, StartupOptions&, SessionState& s) { s.no_game = true; }},
    {"--dev", OptionKind::flag,
     [](const std::string&, StartupOptions& o, SessionState&) { o.dev = true; }},
    {"--no-update", OptionKind::flag,
     [](const std::string&, StartupOptions& o, SessionState&) { o.no_update = true; }},
    {"--updated-from=", OptionKind::prefix,
     [](const std::string& v, StartupOptions& o, SessionState&) { o.updated_from = v; }},
};

void apply_argument(const std::string& arg, StartupOptions& options, SessionState& session) {
    for (const OptionRule& rule : OPTION_RULES) {
        size_t len = std::strlen(rule.text);
        if (rule.kind == OptionKind::flag) {
            if (arg == rule.text) {
                rule.apply(std::string(), options, session);
                return;
            }
        } else if (arg.compare(0, len, rule.text) == 0) {
            rule.apply(arg.substr(len), options, session);
            return;
        }
    }
}

}  // namespace

void apply_arguments(const std::vector<std::string>& args, StartupOptions& options,
                     SessionState& session) {
    for (const std::string& arg : args) apply_argument(arg, options, session);
}
