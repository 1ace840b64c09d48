#include "agent/request.h"

#include <string_view>

namespace {

constexpr std::string_view kSingleLetterCommands = "bBCdefHLsTv";

}  // namespace

std::optional<std::string_view> formatRequest(const InvocationState& state, RequestBuffer& buffer) {
  const char letter = state.command;
  FormattedText text{0, false};
  if (kSingleLetterCommands.find(letter) != std::string_view::npos) {
    text = formatText(buffer, "%c", letter);
  } else if (letter == 'c') {
    text = formatText(buffer, "%c %d", letter, state.cpuNumber);
  } else if (letter == 'D') {
    text = formatText(buffer, "%c %s\n", letter, state.addr.data());
  } else if (letter == 'E' && state.interface[0] == '\0') {
    text = formatText(buffer, "%c %s %s %s", letter, state.addr.data(), state.mask.data(),
                      state.gateway.data());
  } else if (letter == 'E') {
    text = formatText(buffer, "%c -name\"%s\" %s %s %s", letter, state.interface.data(),
                      state.addr.data(), state.mask.data(), state.gateway.data());
  } else if (letter == 'h' || letter == 'p') {
    text = formatText(buffer, "%c %s\n", letter, state.level.data());
  } else if (letter == 'o') {
    text = formatText(buffer, "%c %s", letter, state.newPort.data());
  } else if (letter == 'J') {
    text = formatText(buffer, "%c p=%s s=%s", letter, state.addr.data(), state.gateway.data());
  } else {
    return std::nullopt;
  }
  return std::string_view(buffer.data(), text.length);
}
