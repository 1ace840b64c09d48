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

std::string table;    // the scratch root's hosts table
std::string journal;  // where an in-place rewrite of it would keep its journal

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
  const std::string directory = ::mkdtemp(root.data());
  table = directory + "/hosts";
  journal = directory + "/hosts.zarn-journal";
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
  FileReplacement replacement;
  if (prepareHostEntry(replacement, table.c_str(), journal.c_str(), "10.1.2.3") &&
      replacement.commit()) {
    now << std::ifstream(table, std::ios::binary).rdbuf();
  }
  if (now.str() != expected) {
    __builtin_trap();
  }
  return 0;
}
