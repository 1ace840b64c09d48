#include "cli/request.h"

#include <algorithm>
#include <array>

#include "cli/command_table.h"

namespace {

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
  const RequestFields& fields = command.request.fields;
  std::array<TextSlot, std::tuple_size_v<RequestFields>> scratch{};
  std::array<const char*, std::tuple_size_v<RequestFields>> texts{};
  std::transform(fields.begin(), fields.end(), scratch.begin(), texts.begin(),
                 [&](Field field, TextSlot& slot) { return fieldText(state, field, slot); });
  // The format comes from the option table; conversions it lacks take nothing.
  const FormattedText text = formatText(buffer, command.request.format, command.letter, texts[0],
                                        texts[1], texts[2], texts[3]);
  return {buffer.data(), text.length};
}
