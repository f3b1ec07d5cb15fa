#pragma once
// The launcher's eight options: each argument, in the ANSI code page, is put
// to the table in order and the first rule that matches decides; anything
// else is ignored. Only text rules, so that they also build natively for the
// fuzzers.
#include <string>
#include <vector>

#include "session_state.h"

void apply_arguments(const std::vector<std::string>& args, StartupOptions& options,
                     SessionState& session);
