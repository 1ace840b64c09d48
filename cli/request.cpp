#include "cli/request.h"

#include <algorithm>

#include "cli/command_table.h"

namespace {

// A request being written into its buffer, cut at 255 characters.
struct RequestText {
  RequestBuffer& buffer;
  std::size_t length;
};

void append(RequestText& text, std::string_view piece) {
  const std::size_t taken = std::min(text.buffer.size() - 1 - text.length, piece.size());
  std::copy_n(piece.begin(), taken, text.buffer.begin() + static_cast<std::ptrdiff_t>(text.length));
  text.length += taken;
  text.buffer[text.length] = '\0';
}

// The text a request shows for `field`; numbers and the interface name are
// formatted into `scratch`.
const char* fieldText(const InvocationState& state, Field field, TextSlot& scratch) {
  switch (field) {
    case Field::kNone: return "";
    case Field::kCpuNumber: formatText(scratch, "%d", state.cpuNumber); return scratch.data();
    case Field::kInterfaceName:
      if (state.interface[0] == '\0') {
        return "";
      }
      formatText(scratch, "-name\"%s\" ", state.interface.data());
      return scratch.data();
    default: return textSlot(state, field)->data();
  }
}

}  // namespace

std::string_view formatRequest(const OptionRow& command, const InvocationState& state,
                               RequestBuffer& buffer) {
  RequestText text{buffer, 0};
  // The table's check has made every conversion "%c" first, then "%s" for
  // each field in turn.
  const Field* field = command.request.fields.data();
  for (const char* at = command.request.format; *at != '\0'; ++at) {
    if (*at != '%') {
      append(text, std::string_view(at, 1));
    } else if (*++at == 'c') {
      append(text, std::string_view(&command.letter, 1));
    } else {
      TextSlot scratch{};
      append(text, fieldText(state, *field++, scratch));
    }
  }
  return {buffer.data(), text.length};
}
