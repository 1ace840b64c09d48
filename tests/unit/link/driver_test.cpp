#include "link/driver.h"

#include <gtest/gtest.h>

namespace {

TEST(Driver, RequestNumbers) {
#ifdef __powerpc__
  EXPECT_EQ(SET_PLAT_IP_IOCTL, 0x40044A1FUL);
  EXPECT_EQ(GET_PLAT_IP_IOCTL, 0x40044A20UL);
  EXPECT_EQ(SET_SP_IP_IOCTL, 0x40044A29UL);
#endif
  // Read-direction requests of type 'J' with a 4-byte argument on every machine.
  const auto expectRequest = [](unsigned long request, unsigned number) {
    EXPECT_EQ(_IOC_DIR(request), static_cast<unsigned long>(_IOC_READ));
    EXPECT_EQ(_IOC_TYPE(request), static_cast<unsigned long>('J'));
    EXPECT_EQ(_IOC_NR(request), number);
    EXPECT_EQ(_IOC_SIZE(request), 4U);
  };
  expectRequest(SET_PLAT_IP_IOCTL, 31);
  expectRequest(GET_PLAT_IP_IOCTL, 32);
  expectRequest(SET_SP_IP_IOCTL, 41);
}

}  // namespace
