// Each box about a port or a file names it and says why it could not be used.
#include "app/messages.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/console.h"
#include "app/lifecycle.h"
#include "download/download.h"
#include "support/fakes.h"
#include "terminal/logging.h"

namespace velmora::testing {
namespace {

using A = FakeSerialPort::Availability;

TEST(Messages, NameThePortOrFileAndTheReason) {
  const struct {
    const char* row;
    std::function<void(FakePlatform&, Console&)> act;
    std::string box;
  } rows[] = {
      {"busy port",
       [](FakePlatform& f, Console& c) {
         f.port.SetPort(1, A::Busy, "/dev/ttyUSB0");
         Form_Load(c);
         c.ui.CommPortSelect.UserChoose(1);
       },
       "COM1 (/dev/ttyUSB0) is in use by another program."},
      {"port gone since the scan",
       [](FakePlatform& f, Console& c) {
         f.port.SetPort(2, A::Free, "/dev/ttyUSB1");
         Form_Load(c);
         f.port.SetPort(2, A::Missing, "/dev/ttyUSB1");
         c.ui.CommPortSelect.UserChoose(1);
       },
       "COM2 (/dev/ttyUSB1) cannot be opened: No such file or directory."},
      {"port refused to this user",
       [](FakePlatform&, Console& c) {
         c.messages.Warning(PortOpenFailureText(
             3, "/dev/ttyS2", {8010, "/dev/ttyS2: Permission denied\n\nJoin 'dialout'."}));
       },
       "COM3 (/dev/ttyS2) cannot be opened: Permission denied.\n\nJoin 'dialout'."},
      {"read-only log file",
       [](FakePlatform& f, Console& c) {
         f.files.disk["/l/ro.txt"] = {"kept", true, false, false};
         f.chooser.answers.push_back(ChosenFile{"/l/ro.txt", "ro.txt"});
         LoggingButton_Click(c);
       },
       "The log file /l/ro.txt cannot be opened for writing: Permission denied."},
      {"full disk under the log",
       [](FakePlatform& f, Console& c) {
         f.port.SetPort(1, A::Free);
         Form_Load(c);
         c.ui.CommPortSelect.UserChoose(1);
         f.files.disk["/l/full.txt"] = {"", false, false, true};
         f.chooser.answers.push_back(ChosenFile{"/l/full.txt", "full.txt"});
         LoggingButton_Click(c);
         f.port.Feed("x\r\n");
         c.RunDeferred();
       },
       "Logging stopped: /l/full.txt cannot be written: No space left on device."},
      {"missing program file",
       [](FakePlatform& f, Console& c) {
         f.chooser.answers.push_back(ChosenFile{"/p/gone.hex", "gone.hex"});
         DownloadButton_Click(c);
       },
       "The program file /p/gone.hex cannot be read: No such file or directory."},
  };
  for (const auto& r : rows) {
    FakePlatform fake;
    Console c{fake.platform()};
    r.act(fake, c);
    EXPECT_EQ(fake.messages.shown, std::vector<std::string>{r.box}) << r.row;
  }
}

}  // namespace
}  // namespace velmora::testing
