#pragma once

#include <optional>
#include <string>
#include <string_view>

// The log's form of raw bytes: printable ASCII as is, "\\" for a backslash,
// "\n" for a newline and "\xHH" for any other byte; one line, no tabs.
std::string escapeBytes(std::string_view bytes);

// The bytes a reply text stands for: "\\", "\n", "\r", "\t" and "\xHH" are
// replaced; empty when the text holds any other escape.
std::optional<std::string> decodeEscapes(std::string_view text);

// The whole of `text` as a decimal number within [min, max]; no sign other
// than a leading '-', no spaces, nothing after the digits.
std::optional<long> parseNumber(std::string_view text, long min, long max);

// The complaint about a value that parseNumber refused.
std::string numberComplaint(std::string_view name, std::string_view value, long min, long max);
