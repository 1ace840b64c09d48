#include "cli/usage.h"

#include <unistd.h>

#include <array>
#include <string_view>

#include "base/output.h"
#include "cli/command_table.h"

namespace {

// Kept for callers: the examples name the program "zarn_sp" and an option
// "-SET_RUVO_IP" that it never had.
constexpr std::string_view kExamples =
    "\n"
    "\n"
    "examples:\n"
    "  zarn_sp -b\n"
    "\tThis will cause the platform OS to reboot.\n"
    "\n"
    "  zarn_sp -SET_RUVO_IP -a 192.168.1.1 -g 192.168.1.254\n"
    "\tThis informs the platform side that the platform address should\n"
    "\tbe 192.168.1.1, and the SP side address is 192.168.1.254\n"
    "\n";

// The wait parameter and the long-only options came after callers had
// learnt the usage text, which leaves them out.
constexpr bool listed(const OptionRow& row) {
  return row.letter != '\0' && row.argument != Field::kWaitSeconds;
}

// Appends the text to `out` when it is given; counts its length either way.
struct TextWriter {
  char* out;
  std::size_t length = 0;

  constexpr void put(std::string_view text) {
    for (const char c : text) {
      if (out != nullptr) {
        out[length] = c;
      }
      ++length;
    }
  }
};

// One line per listed row of the kind `parameters` asks for, in the table's order.
constexpr void putOptionLines(TextWriter& writer, bool parameters) {
  for (const OptionRow& row : kOptionTable) {
    if (listed(row) && (row.kind == OptionKind::kParameter) == parameters) {
      writer.put("      -");
      writer.put(std::string_view(&row.letter, 1));
      writer.put("    --");
      writer.put(row.longName);
      writer.put("\n");
    }
  }
}

constexpr std::size_t writeUsage(char* out) {
  TextWriter writer{out};
  writer.put("Usage: zarn -<command> -[parameters]\n  where command is:\n");
  putOptionLines(writer, false);
  writer.put("  and parameters are:\n");
  putOptionLines(writer, true);
  writer.put(kExamples);
  return writer.length;
}

constexpr auto kUsage = [] {
  std::array<char, writeUsage(nullptr)> text{};
  writeUsage(text.data());
  return text;
}();

}  // namespace

void printUsage() { writeErr(std::string_view(kUsage.data(), kUsage.size())); }
