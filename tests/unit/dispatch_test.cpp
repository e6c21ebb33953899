// Recognising the card's program from its lines, and what each program's lines reach.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/program_view.h"
#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

constexpr std::int32_t kUnknown = 0, kBoot = 1, kLineCard = 2, kCpe = 3;

const char* ProgramName(std::int32_t type) {
  static const char* const names[] = {"UNKNOWN", "BOOT LOADER", "LINE CARD APP", "CPE APP"};
  return names[type];
}

class DispatchTest : public ConnectedConsoleTest {
 protected:
  void Become(std::int32_t type) {
    s.ProgramType = type;
    ApplyProgramView(c, type);
  }
  void Receive(const std::string& line) { fake.port.Feed(line + "\r\n"); }
};

struct Transition {
  std::int32_t from;
  const char* line;
  std::int32_t to;
};

TEST_F(DispatchTest, ProgramChangesOnlyOnTheTextsLookedForInTheCurrentProgram) {
  const Transition table[] = {
      {kUnknown, "Boot Loader Initialized", kBoot},
      {kUnknown, "Line Card Application Initialized", kLineCard},
      {kUnknown, "CPE Application Initialized", kCpe},
      {kUnknown, "Maximum CPU%", kBoot},
      {kUnknown, "  Maximum CPU% = 37", kBoot},
      {kUnknown, "Line Card Application Initialized, Maximum CPU%", kLineCard},
      {kUnknown, "Maximum CPU% CPE Application Initialized", kCpe},
      {kUnknown, "CPE Application Initialized Boot Loader Initialized", kBoot},
      {kUnknown, "cpe_reset #", kUnknown},
      {kUnknown, "Stops Application", kUnknown},
      {kUnknown, "maximum cpu%", kUnknown},
      {kUnknown, "Boot loader Initialized", kUnknown},
      {kBoot, "Line Card Application Initialized", kLineCard},
      {kBoot, "CPE Application Initialized", kCpe},
      {kBoot, "  cpe_reset #n   reset CPE n", kLineCard},
      {kBoot, "  stop           Stops Application", kCpe},
      {kBoot, "Stops Application cpe_reset #", kLineCard},
      {kBoot, "cpe_reset # CPE Application Initialized", kCpe},
      {kBoot, "Boot Loader Initialized", kBoot},
      {kBoot, "Maximum CPU%", kBoot},
      {kBoot, "Cpe_reset #", kBoot},
      {kLineCard, "Boot Loader Initialized", kBoot},
      {kLineCard, "Line Card Application Initialized", kLineCard},
      {kLineCard, "CPE Application Initialized", kLineCard},
      {kLineCard, "Maximum CPU%", kLineCard},
      {kLineCard, "cpe_reset #", kLineCard},
      {kLineCard, "Stops Application", kLineCard},
      {kCpe, "** Boot Loader Initialized **", kBoot},
      {kCpe, "CPE Application Initialized", kCpe},
      {kCpe, "Line Card Application Initialized", kCpe},
      {kCpe, "Maximum CPU%", kCpe},
      {kCpe, "cpe_reset #", kCpe},
      {kCpe, "Stops Application", kCpe},
  };
  for (const Transition& t : table) {
    SCOPED_TRACE(std::string(ProgramName(t.from)) + " <- \"" + t.line + "\"");
    Become(t.from);
    // Any view applied would rewrite these.
    ui.ProgramText.SetText("stale");
    s.PollTick = 5;
    s.PollStep = 4;
    s.InitialReadPending = false;

    Receive(t.line);

    EXPECT_EQ(s.ProgramType, t.to);
    if (t.to == t.from) {
      EXPECT_EQ(ui.ProgramText.Text(), "stale");
      EXPECT_EQ(s.PollStep, 4);
    } else {
      EXPECT_EQ(ui.ProgramText.Text(), ProgramName(t.to));
    }
    if (t.to != t.from && (t.to == kLineCard || t.to == kCpe)) {
      EXPECT_EQ(s.PollTick, 1);
      EXPECT_EQ(s.PollStep, 0);
      EXPECT_TRUE(s.InitialReadPending);
    }
  }
}

TEST_F(DispatchTest, HelpListingRevealsTheLineCardBeforeTheVersionParserSeesTheLine) {
  Become(kBoot);
  std::int32_t typeSeen = -1;
  std::string genericLabelSeen;
  ui.ApplicationText.onChange = [&] {
    typeSeen = s.ProgramType;
    genericLabelSeen = ui.GenericLabel.Caption();
  };
  Receive("    Version:  Line Card 4.2 cpe_reset #");
  EXPECT_EQ(s.ProgramType, kLineCard);
  EXPECT_EQ(ui.ApplicationText.Text(), "Line Card 4.2 cpe_reset #");
  EXPECT_EQ(typeSeen, kLineCard);
  EXPECT_EQ(genericLabelSeen, "Telephony:");
}

TEST_F(DispatchTest, BootLoaderBannerReachesNoParser) {
  // Unknown: the banner is recognised, the version it carries is not read.
  Receive("    Version:  Boot Loader Initialized");
  EXPECT_EQ(s.ProgramType, kBoot);
  EXPECT_EQ(ui.BootLoaderText.Text(), "???");

  // An application: the same.
  Become(kCpe);
  ui.BootLoaderText.SetText("Boot 1.0");
  Receive("    Version:  Boot Loader Initialized");
  EXPECT_EQ(s.ProgramType, kBoot);
  EXPECT_EQ(ui.BootLoaderText.Text(), "Boot 1.0");
}

struct VersionCase {
  std::int32_t program;
  const char* line;
  const char* boot;
  const char* application;
  const char* firmware;
};

TEST_F(DispatchTest, VersionLineFillsTheFieldItsTextNames) {
  const VersionCase table[] = {
      {kBoot, "    Version:  Boot Loader 2.04", "Boot Loader 2.04", "???", "???"},
      {kBoot, "    Version:  CPE Application 3.1", "???", "CPE Application 3.1", "???"},
      {kBoot, "    Version:  Line Card 4.0", "???", "Line Card 4.0", "???"},
      {kBoot, "    Version:  FPGA 7", "???", "???", "FPGA 7"},
      {kBoot, "    Version:  Line CPE 1", "???", "Line CPE 1", "???"},
      {kBoot, "    Version:  CPE Boot 1", "CPE Boot 1", "???", "???"},
      {kBoot, "    Version:  boot cpe line", "???", "???", "boot cpe line"},
      {kBoot, "    Version:  X", "???", "???", "X"},
      // The value starts at the 15th character, wherever the key was found.
      {kBoot, "->    Version:  Boot 9", "  Boot 9", "???", "???"},
      {kBoot, "    Version:  ", "???", "???", "???"},
      {kBoot, "   Version:  Boot 9", "???", "???", "???"},
      {kBoot, "    Version: Boot 9", "???", "???", "???"},
      {kUnknown, "    Version:  Boot 9", "???", "???", "???"},
      {kLineCard, "    Version:  Line Card 4.1", "???", "Line Card 4.1", "???"},
      {kCpe, "    Version:  DSP 2", "???", "???", "DSP 2"},
  };
  for (const VersionCase& v : table) {
    SCOPED_TRACE(std::string(ProgramName(v.program)) + " <- \"" + v.line + "\"");
    Become(kUnknown);  // puts "???" in all three fields
    Become(v.program);
    Receive(v.line);
    EXPECT_EQ(ui.BootLoaderText.Text(), v.boot);
    EXPECT_EQ(ui.ApplicationText.Text(), v.application);
    EXPECT_EQ(ui.FirmwareText.Text(), v.firmware);
  }
}

TEST_F(DispatchTest, ApplicationLineGoesToEveryParserInOrder) {
  Become(kCpe);
  // Signal strength, operational state and temperature all read the one line.
  Receive("FF28: 1F   020019 op_status: temperature: ");
  EXPECT_EQ(ui.RssiText.Text(), " 31");
  EXPECT_EQ(ui.OpStateText.Text(), "Locked");
  EXPECT_EQ(ui.TemperatureText.Text(), " 25");
}

TEST_F(DispatchTest, ReplyErrorEndsOnlyTheLineThatCausedIt) {
  Become(kCpe);
  // The operational state code "-1" is no byte: what the signal parser stored stays, the
  // temperature parser after it never sees the line, the next line is handled.
  Receive("FF28: 1F   -10019 op_status: temperature: ");
  EXPECT_EQ(ui.RssiText.Text(), " 31");
  EXPECT_EQ(ui.OpStateText.Text(), "Acquisition");
  EXPECT_EQ(ui.TemperatureText.Text(), "");

  Become(kLineCard);
  s.SelectedCpe = 1;
  fake.port.Feed(
      "op_status: 02-10000\r\n"
      "    Version:  Line 5\r\n"
      "Subscriber 04 Starting Ranging\r\n"
      "    Version:  FPGA 6\r\n"
      "Subscriber 03 Starting Ranging\r\n");
  EXPECT_EQ(s.CpeStatus[0].OpState, "Locked");
  EXPECT_EQ(s.CpeStatus[1].OpState, "Acquisition");
  EXPECT_EQ(ui.ApplicationText.Text(), "Line 5");
  EXPECT_EQ(ui.FirmwareText.Text(), "FPGA 6");
  EXPECT_EQ(s.CpeStatus[3].OpState, "Ranging");
  EXPECT_EQ(s.RxBuffer, "");
}

}  // namespace
}  // namespace velmora::testing
