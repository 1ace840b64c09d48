#pragma once

#include <string_view>

extern const std::string_view kUsageText;

// Writes the usage text to standard error.
void printUsage();
