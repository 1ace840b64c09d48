#include "base/plain_text.h"

#include <gtest/gtest.h>

namespace {

TEST(PlainText, OnlyCanonicalDottedQuadsPass) {
  for (const char* text : {"169.254.101.3", "0.0.0.1", "255.255.255.254", "10.0.0.0"}) {
    EXPECT_TRUE(isPlainDottedQuad(text)) << text;
  }
  for (const char* text : {"", "1.2.3", "1.2.3.4.", ".1.2.3", "1..2.3", "256.1.1.1", "1.2.3.4 ",
                           " 1.2.3.4", "1.2.3.4\n", "1.2.3.4;reboot", "'1.2.3.4'", "$(reboot)",
                           "0x1.2.3.4", "010.1.1.1", "1.2.3.04", "0.0.0.0", "255.255.255.255"}) {
    EXPECT_FALSE(isPlainDottedQuad(text)) << testing::PrintToString(text);
  }
}

TEST(PlainText, OnlyPlainPortsPass) {
  for (const char* text : {"6789", "1", "65535", "00080"}) {
    EXPECT_TRUE(isPlainPort(text)) << text;
  }
  for (const char* text :
       {"65536", "0", "000080", "", "80 ", " 80", "-1", "+80", "80;ls", "$(id)", "'80'", "8\n"}) {
    EXPECT_FALSE(isPlainPort(text)) << testing::PrintToString(text);
  }
}

}  // namespace
