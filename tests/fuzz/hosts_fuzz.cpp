// Any bytes as the old hosts table of a scratch root: the table the save
// leaves must be every old line that does not hold the platform's alias
// (where any character stands for a '.' of it), in order, a newline after a
// last line that lacked one, then the platform's line.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "link/hosts_table.h"

namespace {

constexpr char kEntry[] = "10.1.2.3  platform.ruvo.local\n";

std::string scratchTable() {
  static const std::string path = [] {
    std::string directory = "/tmp/zarn-hosts-fuzz.XXXXXX";
    if (::mkdtemp(directory.data()) == nullptr) {
      __builtin_trap();
    }
    return directory + "/hosts";
  }();
  return path;
}

bool holdsAlias(const std::string& line) {
  const std::string alias = kPlatformHostAlias;
  for (std::size_t at = 0; at + alias.size() <= line.size(); ++at) {
    bool matches = true;
    for (std::size_t i = 0; i < alias.size() && matches; ++i) {
      matches = alias[i] == '.' || alias[i] == line[at + i];
    }
    if (matches) {
      return true;
    }
  }
  return false;
}

std::string expectedTable(const std::string& old) {
  std::string kept;
  for (std::size_t start = 0; start < old.size();) {
    const std::size_t end = old.find('\n', start);
    const std::string line = old.substr(start, end == std::string::npos ? end : end - start);
    if (!holdsAlias(line)) {
      kept += line + "\n";
    }
    start = end == std::string::npos ? old.size() : end + 1;
  }
  return kept + kEntry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string old(reinterpret_cast<const char*>(data), size);
  const std::string path = scratchTable();
  std::ofstream(path, std::ios::binary | std::ios::trunc) << old;
  if (!setPlatformHostEntry(path.c_str(), "10.1.2.3")) {
    __builtin_trap();
  }
  std::ostringstream now;
  now << std::ifstream(path, std::ios::binary).rdbuf();
  if (now.str() != expectedTable(old)) {
    __builtin_trap();
  }
  return 0;
}
