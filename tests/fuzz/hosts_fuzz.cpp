// Any bytes as the old hosts table of a scratch root: the table the save
// leaves must be every old line that does not hold the platform's alias
// (where any character stands for a '.' of it), in order, a newline after a
// last line that lacked one, then the platform's line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "link/hosts_table.h"

namespace {

std::string table;  // the scratch root's hosts table

bool holdsAlias(const std::string& line) {
  const std::string alias = kPlatformHostAlias;
  for (std::size_t at = 0; at + alias.size() <= line.size(); ++at) {
    std::size_t i = 0;
    while (i < alias.size() && (alias[i] == '.' || alias[i] == line[at + i])) {
      ++i;
    }
    if (i == alias.size()) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string root = "/tmp/zarn-hosts-fuzz.XXXXXX";
  table = std::string(::mkdtemp(root.data())) + "/hosts";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string old(reinterpret_cast<const char*>(data), size);
  std::ofstream(table, std::ios::binary) << old;
  std::string expected;
  std::istringstream lines(old);
  for (std::string line; std::getline(lines, line);) {
    expected += holdsAlias(line) ? "" : line + "\n";
  }
  expected += "10.1.2.3  platform.ruvo.local\n";
  std::ostringstream now;
  if (setPlatformHostEntry(table.c_str(), "10.1.2.3")) {
    now << std::ifstream(table, std::ios::binary).rdbuf();
  }
  if (now.str() != expected) {
    __builtin_trap();
  }
  return 0;
}
