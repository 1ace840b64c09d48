#include "agent/vpd.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/output.h"
#include "base/result.h"
#include "base/unique_fd.h"

Result captureVpd(std::span<const char> block, const char* filename) {
  UniqueFd file;
  if (filename[0] != '-') {
    file = UniqueFd(::open(filename, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.valid()) {
      // Kept for callers: "</zarn>" on a line of its own.
      printOut("<error>Error opening file %s</error>\n</zarn>\n", filename);
      return Result::kVpdFileNotOpened;
    }
  }
  const int output = file.valid() ? file.get() : STDOUT_FILENO;
  if (::write(output, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
    writeOut("<error>Wrong # bytes written</error>\n");
    return Result::kVpdNotWritten;
  }
  return Result::kOk;
}
