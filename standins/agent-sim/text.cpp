#include "standins/agent-sim/text.h"

#include <charconv>
#include <cstdio>

namespace {

// The whole of `text` as a number in `base`, or empty.
std::optional<long> wholeNumber(std::string_view text, int base) {
  long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace

std::string escapeBytes(std::string_view bytes) {
  std::string out;
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c >= 0x20 && c <= 0x7e) {
      out += byte;
    } else {
      char hex[5];
      (void)std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

std::optional<std::string> decodeEscapes(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        const std::string_view digits = text.substr(i + 1, 2);
        const auto byte = digits.size() == 2 ? wholeNumber(digits, 16) : std::nullopt;
        if (!byte || digits[0] == '-') return std::nullopt;
        out += static_cast<char>(*byte);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return out;
}

std::optional<long> parseNumber(std::string_view text, long min, long max) {
  const auto value = wholeNumber(text, 10);
  if (!value || *value < min || *value > max) return std::nullopt;
  return value;
}

std::string numberComplaint(std::string_view name, std::string_view value, long min, long max) {
  return std::string(name) + ": '" + std::string(value) + "' is not a whole number from " +
         std::to_string(min) + " to " + std::to_string(max);
}
