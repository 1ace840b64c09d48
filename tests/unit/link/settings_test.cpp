#include "link/settings.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

constexpr LinkSettings kUntouched{0x11111111, 0x22222222, 4242};
constexpr LinkSettings kSpOnly{1, 0x22222222, 4242};
constexpr LinkSettings kNoPort{1, 2, 4242};
constexpr char kDefaultsFile[] =
    "sp 169.254.101.2 0xa9fe6502\np0 169.254.101.3 0xa9fe6503\nzarn 6789\n";

struct ScanCase {
  std::string name;
  std::string text;
  bool complete;
  LinkSettings expected;
};

TEST(Settings, Scan) {
  const std::string huge(5000, 'k');
  // The port's digits straddle the end of the part of a long text that is scanned.
  std::string cutPort = "sp a 1 p0 b 2 zarn ";
  cutPort.resize(4090, ' ');
  cutPort += "123456789";
  const std::vector<ScanCase> cases{
      {"defaults file", kDefaultsFile, true, kDefaultLinkSettings},
      {"no 0x prefix", "sp a a9fe6502\np0 b a9fe6503\nzarn 6789", true, kDefaultLinkSettings},
      {"one line", "sp x 0xa p0 y 0xb zarn 7000", true, {10, 11, 7000}},
      {"other keywords, texts disagree", "a 1.1.1.1 0xa\nb 2.2.2.2 0xb\nc -5", true, {10, 11, -5}},
      {"port above 16 bits", "sp a 1 p0 b 2 zarn 70000", true, {1, 2, 70000}},
      {"two lines only", "sp a 0x1\np0 b 0x2\n", false, kNoPort},
      {"empty", "", false, kUntouched},
      {"binary junk", "\x01\x02\xff\xfe\n\x7f junk"s, false, kUntouched},
      {"NUL inside", "sp a 0x1\np0\0 b 0x2\nzarn 1\n"s, false, kSpOnly},
      {"5000-char keyword", huge + " a 0x1 p0 b 0x2 zarn 1", false, kUntouched},
      {"5000-char address text", "sp " + huge + " 0x1 p0 b 0x2 zarn 1", false, kUntouched},
      {"SP number over 32 bits", "sp a 0x1ffffffff p0 b 0x2 zarn 1", false, kUntouched},
      {"platform number over 32 bits", "sp a 1 p0 b 0x100000000 zarn 1", false, kSpOnly},
      {"port over int", "sp a 0x1 p0 b 0x2 zarn 2147483648", false, kNoPort},
      {"port of 20 digits", "sp a 0x1 p0 b 0x2 zarn 12345678901234567890", false, kNoPort},
      {"port cut by the scan bound", cutPort, false, kNoPort},
  };
  for (const ScanCase& c : cases) {
    LinkSettings settings = kUntouched;
    EXPECT_EQ(scanLinkSettings(c.text, settings), c.complete) << c.name;
    EXPECT_EQ(settings.spAddress, c.expected.spAddress) << c.name;
    EXPECT_EQ(settings.platformAddress, c.expected.platformAddress) << c.name;
    EXPECT_EQ(settings.agentPort, c.expected.agentPort) << c.name;
  }
}

TEST(Settings, FormatWritesTheThreeLines) {
  std::array<char, 256> out{};
  const std::size_t length = formatLinkSettings(out, "169.254.101.3", "169.254.101.2", "6789");
  EXPECT_EQ(std::string_view(out.data(), length), kDefaultsFile);

  const std::size_t other = formatLinkSettings(out, "192.168.1.1", "10.0.0.9", "80");
  EXPECT_EQ(std::string_view(out.data(), other),
            "sp 10.0.0.9 0x0a000009\np0 192.168.1.1 0xc0a80101\nzarn 80\n");
}

TEST(Settings, FormatRefusesWhatDoesNotFit) {
  std::array<char, 40> small{};
  EXPECT_EQ(formatLinkSettings(small, "169.254.101.3", "169.254.101.2", "6789"), 0U);
}

}  // namespace
