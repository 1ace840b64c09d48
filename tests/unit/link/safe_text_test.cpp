#include "link/save.h"

#include <gtest/gtest.h>

#include <string>

#include "link/safe_text.h"

namespace {

TEST(Save, HostsCommandBytes) {
  TextSlot command{};
  ASSERT_TRUE(formatHostsCommand(command, "169.254.101.3"));
  EXPECT_EQ(textOf(command),
            "sed '/platform.ruvo.local/d' /etc/hosts > .hosts; "
            "echo '169.254.101.3  platform.ruvo.local' >> .hosts; cp .hosts /etc/hosts;rm .hosts;");
}

TEST(Save, HostsCommandThatDoesNotFitIsRefused) {
  TextSlot command{};
  EXPECT_FALSE(formatHostsCommand(command, std::string(255, '1').c_str()));
}

TEST(Save, OnlyPlainDottedQuadsPass) {
  for (const char* text : {"169.254.101.3", "0.0.0.0", "255.255.255.255"}) {
    EXPECT_TRUE(isPlainDottedQuad(text)) << text;
  }
  for (const char* text : {"", "1.2.3", "1.2.3.4.", ".1.2.3", "1..2.3", "256.1.1.1", "1.2.3.4 ",
                           " 1.2.3.4", "1.2.3.4\n", "1.2.3.4;reboot", "'1.2.3.4'", "$(reboot)",
                           "1.2.3.4' >/etc/passwd '", "0x1.2.3.4"}) {
    EXPECT_FALSE(isPlainDottedQuad(text)) << testing::PrintToString(text);
  }
}

TEST(Save, OnlyPlainPortsPass) {
  for (const char* text : {"6789", "1", "65535", "00080"}) {
    EXPECT_TRUE(isPlainPort(text)) << text;
  }
  for (const char* text :
       {"65536", "0", "000080", "", "80 ", " 80", "-1", "+80", "80;ls", "$(id)", "'80'", "8\n"}) {
    EXPECT_FALSE(isPlainPort(text)) << testing::PrintToString(text);
  }
}

}  // namespace
