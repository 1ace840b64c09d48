#include "base/trace.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "base/output.h"
#include "base/text_slot.h"

namespace {

// Read by the guard timer's handler too, which a lock-free atomic allows.
std::atomic<bool> traceOn{false};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr std::string_view kPrefix = "trace: ";

// One escaped byte: at most four characters.
std::size_t escape(char byte, std::span<char, 4> out) {
  const auto value = static_cast<unsigned char>(byte);
  constexpr std::string_view kSimple = "\\\\\"\"\nn\rr\tt";
  for (std::size_t i = 0; i < kSimple.size(); i += 2) {
    if (byte == kSimple[i]) {
      out[0] = '\\';
      out[1] = kSimple[i + 1];
      return 2;
    }
  }
  if (value >= 0x20 && value < 0x7f) {
    out[0] = byte;
    return 1;
  }
  constexpr std::string_view kHex = "0123456789abcdef";
  out[0] = '\\';
  out[1] = 'x';
  out[2] = kHex[value >> 4U];
  out[3] = kHex[value & 0xfU];
  return 4;
}

}  // namespace

void enableTrace() { traceOn = true; }

bool tracing() { return traceOn; }

void trace(const char* format, ...) {
  if (!tracing()) {
    return;
  }
  std::array<char, BUFSIZ> line{};
  kPrefix.copy(line.data(), kPrefix.size());
  va_list args;
  va_start(args, format);
  const FormattedText text = formatTextV(std::span(line).subspan(kPrefix.size()), format, args);
  va_end(args);
  writeErr(std::string_view(line.data(), kPrefix.size() + text.length));
  writeErr("\n");
}

void traceBytes(const char* what, std::span<const char> bytes) {
  if (!tracing()) {
    return;
  }
  // Four characters a byte at most; no read or request is longer than a
  // text slot.
  std::array<char, 4 * kTextSlotSize> escaped{};
  std::size_t length = 0;
  for (const char byte : bytes.first(std::min(bytes.size(), kTextSlotSize))) {
    length += escape(byte, std::span<char, 4>(escaped.data() + length, 4));
  }
  trace("%s %zu bytes: \"%.*s\"", what, bytes.size(), static_cast<int>(length), escaped.data());
}

void traceFromHandler(std::string_view line) {
  if (tracing()) {
    writeErr(kPrefix);
    writeErr(line);
    writeErr("\n");
  }
}

long long traceClockMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const auto elapsed = std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
  return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}
