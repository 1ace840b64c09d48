#include "cli/usage.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "cli/command_table.h"

namespace {

using Listing = std::set<std::string>;

// The "-x    --name" lines of one part of the usage text, from its heading to the next one.
Listing listedUnder(const std::string& heading) {
  std::istringstream text{std::string(kUsageText)};
  Listing listed;
  bool inside = false;
  for (std::string line; std::getline(text, line);) {
    if (line.starts_with("  ") && !line.starts_with("    ")) {
      inside = line == heading;
    } else if (inside && line.starts_with("      -")) {
      listed.insert(line.substr(6));
    }
  }
  return listed;
}

std::string usageLine(const OptionRow& row) {
  return std::string{'-', row.letter} + "    --" + row.longName;
}

// The usage text is fixed bytes; it must still name every command and
// parameter of the table, and nothing else. The wait parameter and the
// long-only options are left out of it on purpose.
TEST(Usage, NamesExactlyTheTablesOptions) {
  Listing commands;
  Listing parameters;
  for (const OptionRow& row : kOptionTable) {
    if (row.letter == '\0' || row.argument == Field::kWaitSeconds) {
      continue;
    }
    (row.kind == OptionKind::kParameter ? parameters : commands).insert(usageLine(row));
  }
  EXPECT_EQ(listedUnder("  where command is:"), commands);
  EXPECT_EQ(listedUnder("  and parameters are:"), parameters);
}

}  // namespace
