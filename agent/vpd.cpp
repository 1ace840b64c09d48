#include "agent/vpd.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/output.h"
#include "base/result.h"

namespace {

UniqueFd openVpdOutput(const char* filename) {
  if (filename[0] == '-') {
    return UniqueFd(STDOUT_FILENO);
  }
  return UniqueFd(::open(filename, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

}  // namespace

int captureVpd(UniqueFd& connection, std::span<const char> chunk, ssize_t n, const char* filename) {
  if (n != kVpdBlockSize) {
    printOut("<error>Bytes read (%d) != vpd file size</error>\n</zarn>\n", static_cast<int>(n));
    connection.reset();
    return kResultNoEntry;
  }
  UniqueFd output = openVpdOutput(filename);
  if (!output.valid()) {
    printOut("<error>Error opening file %s</error>\n</zarn>\n", filename);
    connection.reset();
    return kResultNotPermitted;
  }
  const auto block = chunk.first(static_cast<std::size_t>(n));
  if (::write(output.get(), block.data(), block.size()) != n) {
    writeOut("<error>Wrong # bytes written</error>\n");
    output.reset();
    connection.reset();
    return kResultIo;
  }
  output.reset();
  return kResultOk;
}
