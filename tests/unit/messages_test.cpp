// A box about a port names it and says why it could not be used. The boxes of a busy or vanished
// port, of a log file that cannot be written and of an unreadable program file are checked where
// those faults happen (console_test, download_test).
#include "app/messages.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(Messages, APortRefusedToThisUserKeepsTheSystemsAdviceBehindTheReason) {
  EXPECT_EQ(PortOpenFailureText(3, "/dev/ttyS2",
                                {8010, "/dev/ttyS2: Permission denied\n\nJoin 'dialout'."}),
            "COM3 (/dev/ttyS2) cannot be opened: Permission denied.\n\nJoin 'dialout'.");
}

}  // namespace
}  // namespace velmora
