// The poll timer's conversation with the card, tick by tick.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/program_view.h"
#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

using Writes = std::vector<std::string>;

constexpr std::int32_t kLineCard = 2, kCpe = 3;

// Each command as the port receives it.
Writes Commands(std::initializer_list<const char*> texts) {
  Writes w;
  for (const char* t : texts) w.push_back(std::string(t) + "\r\n");
  return w;
}

class PollCycleTest : public ConnectedConsoleTest {
 protected:
  void Become(std::int32_t type) {
    s.ProgramType = type;
    ApplyProgramView(c, type);
  }
  // One tick of the poll timer; what it wrote.
  Writes Tick() {
    fake.port.writes.clear();
    fake.clock.Advance(100);
    return fake.port.writes;
  }
  // Ticks n times; what each tick wrote, for the ticks that wrote something (1-based).
  std::map<int, Writes> Ticks(int n) {
    std::map<int, Writes> sent;
    for (int i = 1; i <= n; ++i)
      if (Writes w = Tick(); !w.empty()) sent[i] = w;
    return sent;
  }
};

// Step k of a round falls on tick 9 + 10 (k - 1) after detection.
std::map<int, Writes> Round(int firstTick, bool first) {
  std::map<int, Writes> r;
  const auto at = [&](int step) { return firstTick + 10 * (step - 1); };
  r[at(2)] = Commands({"rdm ff28 4", "rdm ff12 8"});
  r[at(3)] = first ? Commands({"ree 0", "ree 4", "battery", "temperature"})
                   : Commands({"battery", "temperature"});
  r[at(4)] = first ? Commands({"ree 5", "versions", "rdm ff28 4", "rdm ff12 8"})
                   : Commands({"rdm ff28 4", "rdm ff12 8"});
  if (first) r[at(5)] = Commands({"op_status", "line_state"});
  r[at(6)] = first ? Commands({"debug 1", "rdm ff28 4", "rdm ff12 8"})
                   : Commands({"rdm ff28 4", "rdm ff12 8"});
  r[at(7)] = Commands({"battery", "temperature"});
  r[at(8)] = Commands({"rdm ff28 4", "rdm ff12 8"});
  r[at(10)] = Commands({"rdm ff28 4", "rdm ff12 8"});
  return r;
}

std::map<int, Writes> Merge(std::map<int, Writes> a, const std::map<int, Writes>& b) {
  a.insert(b.begin(), b.end());
  return a;
}

class DetectedApplicationTest : public PollCycleTest,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(DetectedApplicationTest, FirstRoundReadsEverythingOnceLaterRoundsOnlyPoll) {
  ui.GUI_Tabs.UserShowTab(1);
  for (int i = 0; i < 3; ++i) Tick();
  fake.port.Feed(std::string(GetParam()) + "\r\n");
  EXPECT_EQ(Ticks(200), Merge(Round(9, true), Round(109, false)));

  // A new detection (by way of the boot loader) starts a first round again.
  fake.port.Feed("Boot Loader Initialized\r\n");
  for (int i = 0; i < 4; ++i) Tick();
  fake.port.Feed("Stops Application\r\n");
  EXPECT_EQ(Ticks(100), Round(9, true));
}

INSTANTIATE_TEST_SUITE_P(Banners, DetectedApplicationTest,
                         ::testing::Values("Line Card Application Initialized",
                                           "CPE Application Initialized"));

TEST_F(PollCycleTest, TerminalTabPausesTheScheduleAndSendsDebugZeroOncePerVisit) {
  fake.port.Feed("Line Card Application Initialized\r\n");
  const std::map<int, Writes> firstRound = Round(9, true);
  std::map<int, Writes> upToStep4;
  for (const auto& [tick, w] : firstRound)
    if (tick <= 39) upToStep4[tick] = w;
  EXPECT_EQ(Ticks(39), upToStep4);

  ui.GUI_Tabs.UserShowTab(2);
  EXPECT_EQ(Tick(), Commands({"debug 0"}));
  EXPECT_TRUE(Ticks(30).empty());
  // Queued requests still go out while the Terminal tab is in front.
  s.SfdWriteValue = 30;
  s.SfdWritePending = true;
  EXPECT_EQ(Tick(), Commands({"wee 0 1E"}));

  ui.GUI_Tabs.UserShowTab(0);
  // Ticks 72 to 89 after detection: steps 5 and 6 of the still unfinished first round.
  std::map<int, Writes> rest = Ticks(18);
  EXPECT_EQ(rest, (std::map<int, Writes>{{8, Commands({"op_status", "line_state"})},
                                         {18, Commands({"debug 1", "rdm ff28 4", "rdm ff12 8"})}}));

  ui.GUI_Tabs.UserShowTab(2);
  EXPECT_EQ(Tick(), Commands({"debug 0"}));
  EXPECT_TRUE(Ticks(15).empty());
}

TEST_F(PollCycleTest, ClosedPortOnlyCountsTicks) {
  ui.CommPortSelect.UserChoose(0);
  ASSERT_FALSE(fake.port.IsOpen());
  Become(kLineCard);
  s.SfdWritePending = s.CommandLinePending = true;
  s.PollTick = 0;
  EXPECT_TRUE(Ticks(33).empty());
  EXPECT_EQ(s.PollTick, 3);
  EXPECT_EQ(s.PollStep, 0);
  EXPECT_TRUE(s.SfdWritePending);
  EXPECT_TRUE(s.CommandLinePending);
}

TEST_F(PollCycleTest, UnknownSendsOneCpuASecondAndNothingElse) {
  s.CommandLinePending = true;
  ui.CommandLineText.SetText("versions");
  s.SfdWritePending = true;
  ui.GUI_Tabs.UserShowTab(2);
  // Start-up left the tick count at 0, so the tenth tick is the first of a second.
  EXPECT_EQ(Ticks(30),
            (std::map<int, Writes>{
                {10, Commands({"cpu"})}, {20, Commands({"cpu"})}, {30, Commands({"cpu"})}}));
}

TEST_F(PollCycleTest, BootLoaderSendsTheCommandLineBeforeHelpAndNeverAnEepromWrite) {
  fake.port.Feed("Maximum CPU%\r\n");
  ui.CommandLineText.SetText("versions");
  s.CommandLinePending = true;
  EXPECT_EQ(Tick(), Commands({"versions"}));
  EXPECT_FALSE(s.CommandLinePending);

  s.SfdWriteValue = 30;
  s.SfdWritePending = s.GenericWritePending = s.V35WritePending = true;
  for (int i = 0; i < 8; ++i) Tick();
  s.CommandLinePending = true;
  EXPECT_EQ(Tick(), Commands({"versions", "help"}));
  EXPECT_EQ(Ticks(20), (std::map<int, Writes>{{10, Commands({"help"})}, {20, Commands({"help"})}}));
}

TEST_F(PollCycleTest, QueuedRequestsGoOutInOrderInOneTickBeforeTheStatusStep) {
  fake.port.Feed("Line Card Application Initialized\r\n");
  for (int i = 0; i < 18; ++i) Tick();
  ui.CommandLineText.SetText("op_status");
  s.CommandLinePending = true;
  s.SfdWriteValue = 30;
  s.SfdWritePending = true;
  s.EEPROM_VALUE_PCM = 0xA5;
  ui.GenericSelect.SetListIndex(0);
  s.GenericWritePending = true;
  ui.GenericSelect.SetListIndex(2);  // read when the tick runs, not when queued
  ui.V35Select.SetListIndex(2);
  s.V35WritePending = true;

  EXPECT_EQ(Tick(),
            Commands({"op_status", "wee 0 1E", "wee 4 A6", "wee 5 2", "rdm ff28 4", "rdm ff12 8"}));
  EXPECT_EQ(s.EEPROM_VALUE_PCM, 0xA6);
  EXPECT_FALSE(s.CommandLinePending || s.SfdWritePending || s.GenericWritePending ||
               s.V35WritePending);
  EXPECT_TRUE(Tick().empty());
}

struct WriteCase {
  std::int32_t program;
  int sfd;  // -1: no SFD write
  std::uint8_t pcm;
  std::int16_t generic;  // -2: no telephony/range write
  std::int16_t v35;      // -2: no V35 write
  Writes sent;
  std::uint8_t pcmAfter;
};

TEST_F(PollCycleTest, EepromWritesCarryTheirValuesInHex) {
  const WriteCase table[] = {
      {kLineCard, 255, 0, -2, -2, Commands({"wee 0 FF"}), 0},
      {kCpe, 0, 0, -2, -2, Commands({"wee 0 0"}), 0},
      {kLineCard, -1, 0xA5, 2, -2, Commands({"wee 4 A6"}), 0xA6},
      {kLineCard, -1, 0x07, 0, -2, Commands({"wee 4 4"}), 0x04},
      {kLineCard, -1, 0x00, 3, -2, Commands({"wee 4 3"}), 0x03},
      {kCpe, -1, 0xA5, 1, -2, Commands({"wee 4 1"}), 0xA5},
      {kCpe, -1, 0x05, -2, 2, Commands({"wee 5 2"}), 0x05},
      {kLineCard, -1, 0x05, -2, 0, Commands({"wee 5 0"}), 0x05},
      // Nothing chosen: nothing to write, and the request is dropped.
      {kLineCard, -1, 0xA5, -1, -1, {}, 0xA5},
      {kCpe, -1, 0xA5, -1, -1, {}, 0xA5},
  };
  for (const WriteCase& w : table) {
    SCOPED_TRACE(::testing::Message() << "program " << w.program << " sfd " << w.sfd << " generic "
                                      << w.generic << " v35 " << w.v35);
    Become(w.program);
    s.EEPROM_VALUE_PCM = w.pcm;
    if (w.sfd >= 0) {
      s.SfdWriteValue = w.sfd;
      s.SfdWritePending = true;
    }
    if (w.generic > -2) {
      ui.GenericSelect.SetListIndex(w.generic);
      s.GenericWritePending = true;
    }
    if (w.v35 > -2) {
      ui.V35Select.SetListIndex(w.v35);
      s.V35WritePending = true;
    }
    EXPECT_EQ(Tick(), w.sent);  // the tick after a detection: no status step
    EXPECT_EQ(s.EEPROM_VALUE_PCM, w.pcmAfter);
    EXPECT_FALSE(s.SfdWritePending || s.GenericWritePending || s.V35WritePending);
    EXPECT_TRUE(Tick().empty());
  }
}

}  // namespace
}  // namespace velmora::testing
