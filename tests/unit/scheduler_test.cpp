// The poll timer's command stream: the status schedule, queued settings writes and the command
// line, as the engineer's edits and the card's banners shape it.
#include <gtest/gtest.h>

#include "support/console_fixture.h"

namespace velmora::testing {
namespace {
const std::string kLine = "Line Card Application Initialized\n",
                  kCpe = "CPE Application Initialized\n";
const std::string R = "rdm ff28 4,rdm ff12 8", BT = "battery,temperature";

struct Row {
  std::string script;  // see Script
  std::string stream;  // "T:command,command" for each tick T after the start that wrote
  std::string look = "", shown = "";
};

class SchedulerTest : public ConnectedConsoleTest {
 protected:
  void Check(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
      Reconnect();  // the tick count starts at a second's start
      ui.GUI_Tabs.UserShowTab(0);
      s.PollTick = 0;
      const std::int64_t start = fake.clock.now;
      std::string stream;
      std::int64_t last = -1;
      fake.port.onOutput = [&](const std::string& w) {
        const std::int64_t tick = (fake.clock.now - start) / 100;
        stream += tick == last ? "," : (stream.empty() ? "" : " ") + std::to_string(tick) + ":";
        stream += w.substr(0, w.size() - 2);
        last = tick;
      };
      Script(r.script);
      fake.port.onOutput = nullptr;
      EXPECT_EQ(stream, r.stream) << r.script;
      EXPECT_EQ(Look(r.look), r.shown) << r.script;
    }
  }
};

TEST_F(SchedulerTest, StatusScheduleReadsEverythingInTheFirstRoundThenOnlyPolls) {
  Check(
      {{kLine + "@tick 200", "19:" + R + " 29:ree 0,ree 4," + BT + " 39:ree 5,versions," + R +
                                 " 49:op_status,line_state 59:debug 1," + R + " 69:" + BT + " 79:" +
                                 R + " 99:" + R + " 119:" + R + " 129:" + BT + " 139:" + R +
                                 " 159:" + R + " 169:" + BT + " 179:" + R + " 199:" + R},
       // A new detection, by way of the boot loader, starts a first round again.
       {kLine + "@tick 5\nBoot Loader Initialized\n@tick 3\nStops Application\n@tick 60",
        "27:" + R + " 37:ree 0,ree 4," + BT + " 47:ree 5,versions," + R +
            " 57:op_status,line_state 67:debug 1," + R},
       // The Terminal tab pauses the schedule and sends "debug 0" once per visit; queued
       // requests still go out.
       {kLine + "@tick 39\n@tab 2\n@tick 31\n@edit SfdText 30\n@click SfdButton\n@tick 1\n@tab 0\n"
                "@tick 18\n@tab 2\n@tick 16",
        "19:" + R + " 29:ree 0,ree 4," + BT + " 39:ree 5,versions," + R +
            " 40:debug 0 71:wee 0 1E 79:op_status,line_state 89:debug 1," + R + " 90:debug 0"},
       // Behind the Trends tab the schedule goes on as on the Status tab.
       {kCpe + "@tab 3\n@tick 20", "19:" + R},
       {"@tick 30", "10:cpu 20:cpu 30:cpu"},
       {"Maximum CPU%\n@edit CommandLineText versions\n@click CommandLineButton\n@tick 20",
        "1:versions 10:help 20:help"}});
}

TEST_F(SchedulerTest, SettingsEditsAreWrittenOnTheNextTickInAddressOrder) {
  const auto sfd = [](const std::string& typed) {
    return kLine + "@edit SfdText " + typed + "\n@click SfdButton\n@tick 2";
  };
  Check(
      {{kLine +
            "0004: A5\n@tick 18\n@edit CommandLineText op_status\n@click CommandLineButton\n"
            "@edit SfdText 30\n@click SfdButton\n@choose GenericSelect 2\n@click GenericButton\n"
            "@choose V35Select 2\n@click V35Button\n@tick 2",
        "19:op_status,wee 0 1E,wee 4 A6,wee 5 2," + R, "PCM", "166"},
       {sfd("0"), "1:wee 0 0"},
       {sfd("254"), "1:wee 0 FE"},
       {sfd("256"), "1:wee 0 FF", "SfdButton.Enabled", "1"},
       {sfd(std::string(400, '9')), "1:wee 0 FF"},
       {sfd("000000000000000000042"), "1:wee 0 2A"},
       // What is pasted keeps its digits; a word leaves nothing to write.
       {sfd("4x5 abc"), "1:wee 0 2D", "SfdText", "45"},
       {sfd("word"), "", "SfdText SfdButton.Enabled", "|0"},
       // The value is taken at the click, and one write goes out per tick.
       {kLine + "@edit SfdText 25\n@click SfdButton\n@edit SfdText 26\n@tick 1\n@click SfdButton\n"
                "@edit SfdText 27\n@click SfdButton\n@tick 2\n@click SfdButton\n@tick 1",
        "1:wee 0 19 2:wee 0 1B 4:wee 0 1B"},
       {kLine + "0004: 06\n@choose GenericSelect 2\n@click GenericButton\n@click "
                "GenericButton\n@tick 2",
        "1:wee 4 6", "GenericButton.Enabled", "1"},
       {kLine + "0004: 40\n@choose GenericSelect 3\n@click GenericButton\n@tick 1", "1:wee 4 43",
        "PCM", "67"},
       {kCpe + "0004: 40\n@choose GenericSelect 1\n@click GenericButton\n@tick 1", "1:wee 4 1",
        "PCM", "64"},
       {kCpe + "0004: 01\n@choose GenericSelect 0\n@click GenericButton\n@tick 1", "1:wee 4 0"},
       {kCpe + "0005: 00\n@choose V35Select 1\n@click V35Button\n@tick 2", "1:wee 5 1",
        "V35Button.Enabled", "1"},
       {kLine + "@edit SfdText 30\n@click SfdButton\nBoot Loader Initialized\n@tick 1", ""}});
}

TEST_F(SchedulerTest, CommandLineSendsTheTextAtTheNextTickOnce) {
  const std::string cmd = "@edit CommandLineText versions\n@click CommandLineButton\n";
  Check({{kCpe + cmd + "@click CommandLineButton\n@tick 11\n@click CommandLineButton\n@tick 1",
          "1:versions 12:versions", "CommandLineText", "versions"},
         {kCpe + "@edit CommandLineText ver\n@click CommandLineButton\n@edit CommandLineText "
                 "versions\n@tick 1",
          "1:versions"},
         {kCpe + "@edit CommandLineText line_state\n@key Enter\n@tick 1", "1:line_state"},
         // Another port chosen drops it.
         {kCpe + cmd + "@choose CommPortSelect 0\n@choose CommPortSelect 1\n" + kCpe + "@tick 20",
          "19:" + R}});
}

TEST_F(ConnectedConsoleTest, SfdFieldTakesOnlyDigitsAndBackspaceFromTheKeyboard) {
  std::string kept;
  for (int code :
       std::initializer_list<int>{'0', '5', '9', 8, '/', ':', 'a', '-', ' ', 13, 27, 127, 0xB2}) {
    std::int16_t key = static_cast<std::int16_t>(code);
    kept += ui.SfdText.UserKeyPress(key) ? "1" : "0";
  }
  EXPECT_EQ(kept, "1111000000000");
}

TEST_F(ConnectedConsoleTest, UpAndDownRecallEarlierCommandsAndGiveBackTheDraft) {
  Script(kCpe);
  for (const char* command : {"a", "b", "b", "c", "b"})
    Script(std::string("@edit CommandLineText ") + command + "\n@click CommandLineButton\n@tick 1");
  Script("@edit CommandLineText dra");
  std::string seen;
  for (const char* key : {"Up", "Up", "Up", "Up", "Up", "Down", "Down", "Down", "Down", "Down"}) {
    Script(std::string("@key ") + key);
    seen += ui.CommandLineText.Text() + " ";
  }
  EXPECT_EQ(seen, "b c b a a b c b dra dra ");
  EXPECT_FALSE(s.CommandLinePending);
}

}  // namespace
}  // namespace velmora::testing
