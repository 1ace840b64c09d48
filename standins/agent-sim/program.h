#pragma once

#include <string>
#include <vector>

// Runs command[0], a path, with the rest as its arguments and no shell, and
// waits for it. Returns why it failed (could not start, a non-zero status, a
// signal), or an empty text.
std::string runProgram(const std::vector<std::string>& command);
