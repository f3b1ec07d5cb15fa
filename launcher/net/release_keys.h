#pragma once
// The operator's public release keys that this launcher trusts, compiled in
// from the CMake setting KORVAL_RELEASE_KEYS: each 128 lower-case hex digits,
// X then Y of a P-256 point. None in a development build, which verifies
// nothing. Defined by the program, not the launcher's library, so that a test
// program can choose its own.
#include <string>
#include <vector>

const std::vector<std::string>& release_public_keys();
