#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "link/settings_file.h"

namespace {

using namespace std::string_literals;

constexpr LinkSettings kUntouched{0x11111111, 0x22222222, 4242};
constexpr LinkSettings kSpOnly{1, 0x22222222, 4242};
constexpr LinkSettings kNoPort{1, 2, 4242};

auto fieldsOf(const LinkSettings& settings) {
  return std::tuple(settings.spAddress, settings.platformAddress, settings.agentPort);
}

struct TextCase {
  std::string name;
  std::string text;
  bool malformed;
  LinkSettings expected;
};

TEST(SettingsFileRead, Texts) {
  const std::string padding = std::string(3000, '\n') + std::string(3000, ' ') + "\t\v\f\r";
  const std::string longField(9000, 'k');
  // The port's digits span byte BUFSIZ, where a read chunk ends; the last
  // read returns one byte.
  std::string portAcrossChunks = "sp a 1 p0 b 2 zarn ";
  portAcrossChunks.resize(BUFSIZ - 8, ' ');
  portAcrossChunks += "123456789";
  const std::vector<TextCase> cases{
      {"one line, other keywords, optional prefix", "a x a9fe6502 b y 0XA9FE6503 c 6789", false,
       kDefaultLinkSettings},
      {"lowest int port", "sp a 1 p0 b 2 zarn -2147483648", false, {1, 2, INT_MIN}},
      {"long fields and padding",
       longField + padding + longField + " 0x1" + padding + "p0 b 2 " + longField + padding + "7\n",
       false,
       {1, 2, 7}},
      {"NUL bytes in the keywords", "s\0p a 0x1 p0\0 b 0x2 \0zarn 7"s, false, {1, 2, 7}},
      {"port across read chunks", portAcrossChunks, false, {1, 2, 123456789}},
      {"a negated number that fits", "sp a -ffffffffffffffff p0 b 2 zarn 7", false, {1, 2, 7}},
      {"a port ended by a colon", "sp a 1 p0 b 2 zarn 7:", false, {1, 2, 7}},
      {"no digits where a number goes", "sp a x b c 2 d 7", true, kUntouched},
      {"number over 32 bits", "sp a 1 p0 b 0x100000000 zarn 1", true, kSpOnly},
      {"port over int", "sp a 0x1 p0 b 0x2 zarn 2147483648", true, kNoPort},
      {"port under int", "sp a 0x1 p0 b 0x2 zarn -2147483649", true, kNoPort},
  };
  std::string path = "/tmp/settings_test.XXXXXX";
  ::close(::mkstemp(path.data()));
  for (const TextCase& c : cases) {
    std::ofstream(path, std::ios::binary) << c.text;
    const SettingsRead read = readSettingsFile(path.c_str(), kUntouched);
    EXPECT_EQ(read.malformed, c.malformed) << c.name;
    EXPECT_EQ(fieldsOf(read.settings), fieldsOf(c.expected)) << c.name;
  }
  std::filesystem::remove(path);
}

// The numbers are eight hexadecimal digits, zero-padded: the first octet of
// 9.8.7.6 is written as 09.
TEST(SettingsFileWrite, WritesThreeLinesOfFixedForm) {
  SettingsText out{};
  EXPECT_EQ(formatLinkSettings(out, "10.1.1.1", "9.8.7.6", 6789),
            "sp 9.8.7.6 0x09080706\np0 10.1.1.1 0x0a010101\nzarn 6789\n");
}

}  // namespace
