#include "standins/agent-sim/platform.h"

#include <climits>
#include <ctime>

#include "standins/agent-sim/text.h"

namespace {

// The text after the letter and its space.
std::string_view argumentOf(std::string_view request) {
  return request.size() > 2 ? request.substr(2) : std::string_view();
}

// Splits off the text up to the next space (or the end).
std::string nextField(std::string_view& text) {
  const std::size_t space = text.find(' ');
  std::string field(text.substr(0, space));
  text.remove_prefix(space == std::string_view::npos ? text.size() : space + 1);
  return field;
}

// "E ADDR MASK GATEWAY", or "E -name\"IF\" ADDR MASK GATEWAY".
void setNetwork(Platform& platform, std::string_view fields) {
  platform.interface.clear();
  constexpr std::string_view kName = "-name\"";
  if (fields.starts_with(kName)) {
    fields.remove_prefix(kName.size());
    const std::size_t quote = fields.find('"');
    platform.interface = fields.substr(0, quote);
    fields.remove_prefix(quote == std::string_view::npos ? fields.size() : quote + 1);
    if (fields.starts_with(' ')) fields.remove_prefix(1);
  }
  platform.ip = nextField(fields);
  platform.mask = nextField(fields);
  platform.gateway = nextField(fields);
}

// "J p=PLATFORM s=SP".
void setLink(Platform& platform, std::string_view fields) {
  for (std::string field = nextField(fields); !field.empty(); field = nextField(fields)) {
    if (field.starts_with("p=")) platform.linkPlatform = field.substr(2);
    if (field.starts_with("s=")) platform.linkSp = field.substr(2);
  }
}

std::string element(std::string_view tag, std::string_view value) {
  return "<" + std::string(tag) + ">" + std::string(value) + "</" + std::string(tag) + ">";
}

std::string network(const Platform& platform) {
  return element("ip", platform.ip) + element("mask", platform.mask) +
         element("gateway", platform.gateway) +
         (platform.interface.empty() ? "" : element("interface", platform.interface)) +
         element("ruvoIp", platform.linkPlatform) + element("spIp", platform.linkSp);
}

std::string currentTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[32];
  (void)localtime_r(&now, &local);
  (void)std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return element("time", text);
}

// Records what a request that sets something changes.
void takeIn(Platform& platform, char letter, std::string_view argument) {
  switch (letter) {
    case 'E': setNetwork(platform, argument); break;
    case 'D': platform.dns = argument.substr(0, argument.find('\n')); break;
    case 'J': setLink(platform, argument); break;
    default: break;
  }
}

}  // namespace

std::string answerText(Platform& platform, std::string_view request) {
  const char letter = request.empty() ? '\0' : request[0];
  takeIn(platform, letter, argumentOf(request));
  switch (letter) {
    case 'T': return currentTime();
    case 'C': return element("temp", "41");
    case 'L': return element("version", "sim-1.0");
    case 'e': return network(platform);
    case 'd': return element("dns", platform.dns);
    case 'o': return std::string(kPortConfirmed);
    default: return element("reply", "ok");
  }
}

std::optional<std::uint16_t> requestedPort(std::string_view request) {
  const auto port = parseNumber(argumentOf(request), 1, 65535);
  if (!port) return std::nullopt;
  return static_cast<std::uint16_t>(*port);
}

std::string vpdBlock(std::string_view request, long size) {
  const long cpu = parseNumber(argumentOf(request), INT_MIN, INT_MAX).value_or(0);
  std::string block;
  for (long i = 0; i < size; ++i) block += static_cast<char>((i + cpu) & 0xff);
  return block;
}
