// Operational state, frame-sync losses and signal strength, from the card's replies and events.
#include "replies/op_status.h"

#include <gtest/gtest.h>

#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

std::string Dump(const CpeStatusRecord& r) {
  return r.OpState + "|" + r.Rssi + "|" + r.SfdLoss + "|" + r.Lines[0].Hook + "|" +
         r.Lines[0].Ring + "|" + r.Lines[1].Hook + "|" + r.Lines[1].Ring;
}

const std::string kStartRecord = "Acquisition|0||ON HOOK|RING OFF|ON HOOK|RING OFF";

class CardLineTest : public ConnectedConsoleTest {
 protected:
  void Start(const char* banner, std::int32_t type) {
    Receive(banner);
    ASSERT_EQ(s.ProgramType, type);
  }
  void Receive(const std::string& line) { fake.port.Feed(line + "\r\n"); }
  std::vector<std::string> Records() const {
    std::vector<std::string> all;
    for (const auto& r : s.CpeStatus) all.push_back(Dump(r));
    return all;
  }
  std::vector<std::string> OpStates() const {
    std::vector<std::string> all;
    for (const auto& r : s.CpeStatus) all.push_back(r.OpState);
    return all;
  }
  std::vector<std::string> Rssis() const {
    std::vector<std::string> all;
    for (const auto& r : s.CpeStatus) all.push_back(r.Rssi);
    return all;
  }
};

class OpStatusCpeTest : public CardLineTest {
 protected:
  void SetUp() override {
    CardLineTest::SetUp();
    Start("CPE Application Initialized", ProgramType::CpeApp);
  }
};

class OpStatusLineCardTest : public CardLineTest {
 protected:
  void SetUp() override {
    CardLineTest::SetUp();
    Start("Line Card Application Initialized", ProgramType::LineCardApp);
  }
};

using Lines = std::vector<std::string>;

// ---- CPE application: its own link, straight into the fields.

TEST_F(OpStatusCpeTest, OperationalStateComesFromTheFirstMarkerFoundAndTheCodeAtPositions12To13) {
  const struct {
    const char* line;
    const char* shown;
  } cases[] = {
      {"op_status: 02", "Locked"},
      {"op_status: 01", "Ranging"},
      {"op_status: 07", "Acquisition"},
      {"op_status: 00", "Acquisition"},
      {"op_status: ", "Acquisition"},
      {"op_status: 2", "Locked"},
      {"op_status: 0199", "Ranging"},  // only two characters are the code
      {">op_status: 12", "Ranging"},   // positions count from the line's start: " 1"
      {"Ranging Completed Successfully", "Locked"},
      {"Starting Ranging", "Ranging"},
      {"Starting Acquisition", "Acquisition"},
      {"Ranging Completed Successfully after Starting Ranging", "Ranging"},
      {"Starting Acquisition, Ranging Completed Successfully", "Locked"},
      {"op_status: 01 Ranging Completed Successfully", "Ranging"},
  };
  for (const auto& k : cases) {
    ui.OpStateText.SetText("none");
    Receive(k.line);
    EXPECT_EQ(ui.OpStateText.Text(), k.shown) << k.line;
  }
  EXPECT_EQ(Records(), Lines(4, kStartRecord));
}

TEST_F(OpStatusCpeTest, LinkLossMessagesOfTheLineCardChangeNothing) {
  Receive("op_status: 02");
  for (const char* line : {"Subscriber 00 Communications Lost", "Subscriber 00 Commanded Reset",
                           "Communications Lost", "Commanded Reset"}) {
    Receive(line);
    EXPECT_EQ(ui.OpStateText.Text(), "Locked") << line;
  }
}

TEST_F(OpStatusCpeTest, BadCodeEndsTheLineSoLaterParsersDoNotSeeIt) {
  Receive("op_status: 02");
  Receive("op_status: -1 temperature: 0019");
  EXPECT_EQ(ui.OpStateText.Text(), "Locked");
  EXPECT_EQ(ui.TemperatureText.Text(), "");
  Receive("temperature: 0019");
  EXPECT_EQ(ui.TemperatureText.Text(), " 25");
}

TEST_F(OpStatusCpeTest, SfdLossCountIsReadInHexadecimalAtFixedPositions) {
  const struct {
    const char* line;
    const char* shown;
    Color colour;
  } cases[] = {
      {"SFD Loss Count: 00FF", " 255", kRed},
      {"SFD Loss Count: FFFF", "-1", kGreen},
      {"SFD Loss Count: 8000", "-32768", kGreen},
      {"SFD Loss Count: 12", " 18", kRed},
      {"SFD Loss Count: 0004", " 4", kYellow},
      {"SFD Loss Count: ", " 0", kGreen},
      {"SFD Loss Count: 000A5", " 10", kYellow},  // four characters only
      {"abSFD Loss Count: 0010", " 0", kGreen},   // positions 17-20 hold ": 00"
      {"SFD Loss Count: 0003 Subscriber 09", " 3", kGreen},
  };
  for (const auto& k : cases) {
    ui.SfdLossText.SetText("none");
    Receive(k.line);
    EXPECT_EQ(ui.SfdLossText.Text(), k.shown) << k.line;
    EXPECT_EQ(ui.SfdLossText.BackColor(), k.colour) << k.line;
  }
  EXPECT_EQ(Records(), Lines(4, kStartRecord));
}

TEST_F(OpStatusCpeTest, SignalStrengthIsTheFirstByteOnly) {
  const struct {
    const char* line;
    const char* shown;
    Color colour;
  } cases[] = {
      {"FF28: 1A 0C 00 FF", " 26", kGreen},
      {"FF28: 05 FF FF FF", " 5", kRed},
      {"FF28: 06", " 6", kYellow},
      {"FF28: FF", " 255", kGreen},
      {"FF28: 9", " 9", kGreen},
      {"FF28: ", " 0", kRed},
  };
  for (const auto& k : cases) {
    ui.RssiText.SetText("none");
    Receive(k.line);
    EXPECT_EQ(ui.RssiText.Text(), k.shown) << k.line;
    EXPECT_EQ(ui.RssiText.BackColor(), k.colour) << k.line;
  }
}

// ---- Line card application: per CPE into the store, the selected CPE into the fields.

TEST_F(OpStatusLineCardTest, StatusLineSetsEveryCpeAndShowsTheSelectedOne) {
  ui.CpeSelect.UserChoose(1);
  Receive("op_status: 02010000");
  EXPECT_EQ(OpStates(), (Lines{"Locked", "Ranging", "Acquisition", "Acquisition"}));
  EXPECT_EQ(ui.OpStateText.Text(), "Ranging");
  EXPECT_EQ(ui.OpStateText.BackColor(), kYellow);

  // A short line reads the missing codes as 0.
  Receive("op_status: 02020202");
  Receive("op_status: 0102");
  EXPECT_EQ(OpStates(), (Lines{"Ranging", "Locked", "Acquisition", "Acquisition"}));
  EXPECT_EQ(ui.OpStateText.Text(), "Locked");
  EXPECT_EQ(ui.OpStateText.BackColor(), kGreen);
}

TEST_F(OpStatusLineCardTest, BadCodeInTheMiddleKeepsEarlierCpesAndLeavesTheFieldAlone) {
  Receive("op_status: 00000101");
  Receive("op_status: 0201-100 temperature: 0019");
  EXPECT_EQ(OpStates(), (Lines{"Locked", "Ranging", "Ranging", "Ranging"}));
  EXPECT_EQ(ui.OpStateText.Text(), "Acquisition");  // CPE 0 is Locked, but not shown yet
  EXPECT_EQ(ui.TemperatureText.Text(), "");
}

TEST_F(OpStatusLineCardTest, EventsStoreForTheSubscriberAndCopyTheSelectedCpe) {
  ui.OpStateText.SetText("none");
  Receive("Subscriber 02 Starting Ranging");
  EXPECT_EQ(OpStates(), (Lines{"Acquisition", "Acquisition", "Ranging", "Acquisition"}));
  EXPECT_EQ(ui.OpStateText.Text(), "Acquisition");
  EXPECT_EQ(ui.OpStateText.BackColor(), kRed);

  ui.CpeSelect.UserChoose(3);
  Receive("Subscriber 03 Ranging Completed Successfully");
  EXPECT_EQ(s.CpeStatus[3].OpState, "Locked");
  EXPECT_EQ(ui.OpStateText.Text(), "Locked");
  EXPECT_EQ(ui.OpStateText.BackColor(), kGreen);

  // "Starting Acquisition" means nothing to the line card.
  Receive("Subscriber 03 Starting Acquisition");
  EXPECT_EQ(s.CpeStatus[3].OpState, "Locked");

  // The subscriber number is at positions 12-13 of the line: here " 0", CPE 0.
  Receive(">Subscriber 01 Starting Ranging");
  EXPECT_EQ(OpStates(), (Lines{"Ranging", "Acquisition", "Ranging", "Locked"}));
}

TEST_F(OpStatusLineCardTest, EventMarkersAreTriedInTheirOwnOrder) {
  const struct {
    const char* line;
    const char* state;
  } cases[] = {
      {"Subscriber 01 Communications Lost, Starting Ranging", "Ranging"},
      {"Subscriber 01 Ranging Completed Successfully, Communications Lost", "Acquisition"},
      {"Subscriber 01 Commanded Reset, Ranging Completed Successfully", "Locked"},
      {"Subscriber 01 Ranging Completed Successfully, Starting Ranging", "Ranging"},
  };
  for (const auto& k : cases) {
    Receive("op_status: 00020000");
    Receive("Subscriber 01 SFD Loss Count: 0009");
    Receive(k.line);
    EXPECT_EQ(s.CpeStatus[1].OpState, k.state) << k.line;
    // Only a reset clears the count.
    EXPECT_EQ(s.CpeStatus[1].SfdLoss, std::string(k.state) == "Acquisition" ? "" : " 9") << k.line;
  }
}

TEST_F(OpStatusLineCardTest, SubscriberAbove3IsAReplyErrorThatStoresNothing) {
  Receive("op_status: 02020202");
  const Lines before = Records();
  ui.OpStateText.SetText("none");
  ui.Line1Hook.SetText("none");
  for (const char* line : {"Subscriber 04 Ranging Completed Successfully temperature: 0019",
                           "Subscriber 0A Starting Ranging temperature: 0019",
                           "Subscriber 04 Communications Lost temperature: 0019",
                           "Subscriber FF Commanded Reset temperature: 0019",
                           "Subscriber 04 SFD Loss Count: 0001 temperature: 0019"}) {
    Receive(line);
    EXPECT_EQ(Records(), before) << line;
    EXPECT_EQ(ui.OpStateText.Text(), "none") << line;
    EXPECT_EQ(ui.Line1Hook.Text(), "none") << line;
    EXPECT_EQ(ui.SfdLossText.Text(), "") << line;
    EXPECT_EQ(ui.TemperatureText.Text(), "") << line;
  }
}

TEST_F(OpStatusLineCardTest, LinkLossResetsTheCpeAndRewritesAllSevenFields) {
  for (const char* marker : {"Communications Lost", "Commanded Reset"}) {
    Receive("op_status: 02000002");
    Receive("FF28: 1C 00 00 1A");
    Receive("Subscriber 03 SFD Loss Count: 0005");
    Receive("Subscriber 03 Channel 00 OFF HOOK");
    Receive("Subscriber 03 Channel 01 RING ON");
    ui.CpeSelect.UserChoose(3);
    ASSERT_EQ(ui.RssiText.Text(), " 26");
    ASSERT_EQ(ui.Line2Ring.Text(), "RING ON");

    Receive(std::string("Subscriber 03 ") + marker);
    EXPECT_EQ(Dump(s.CpeStatus[3]), kStartRecord) << marker;
    EXPECT_EQ(s.CpeStatus[0].OpState, "Locked") << marker;
    EXPECT_EQ(s.CpeStatus[0].Rssi, " 28") << marker;
    EXPECT_EQ(ui.OpStateText.Text(), "Acquisition");
    EXPECT_EQ(ui.RssiText.Text(), "0");
    EXPECT_EQ(ui.SfdLossText.Text(), "");
    EXPECT_EQ(ui.Line1Hook.Text(), "ON HOOK");
    EXPECT_EQ(ui.Line2Ring.Text(), "RING OFF");
    for (const TextBox* t : {&ui.OpStateText, &ui.RssiText, &ui.SfdLossText})
      EXPECT_EQ(t->BackColor(), kRed) << t->Name();

    // With another CPE selected, the fields are rewritten from that one.
    ui.CpeSelect.UserChoose(0);
    ui.Line1Ring.SetText("none");
    ui.RssiText.SetText("none");
    Receive(std::string("Subscriber 03 ") + marker);
    EXPECT_EQ(ui.Line1Ring.Text(), "RING OFF");
    EXPECT_EQ(ui.RssiText.Text(), " 28");
    EXPECT_EQ(ui.OpStateText.Text(), "Locked");
  }
}

TEST_F(OpStatusLineCardTest, SfdLossCountIsReadRightBehindTheMarker) {
  ui.SfdLossText.SetText("none");
  Receive("Subscriber 01 SFD Loss Count: 0010");
  EXPECT_EQ(s.CpeStatus[1].SfdLoss, " 16");
  EXPECT_EQ(ui.SfdLossText.Text(), "");  // CPE 0's, copied after the store
  EXPECT_EQ(ui.SfdLossText.BackColor(), kRed);

  const struct {
    const char* line;
    std::size_t cpe;
    const char* stored;
  } cases[] = {
      {"Subscriber 02, link 7, SFD Loss Count: 0A0B", 2, " 2571"},
      {"Subscriber 03 SFD Loss Count: 1", 3, " 1"},
      {"Subscriber 00 SFD Loss Count: 00123", 0, " 18"},
      {"Subscriber 00 SFD Loss Count: FFFF", 0, "-1"},
      {"Subscriber 03 SFD Loss Count: ", 3, " 0"},
      {"Subscriber 02 SFD Loss Count: 0002 SFD Loss Count: 0007", 2, " 2"},
  };
  for (const auto& k : cases) {
    Receive(k.line);
    EXPECT_EQ(s.CpeStatus[k.cpe].SfdLoss, k.stored) << k.line;
  }
  EXPECT_EQ(ui.SfdLossText.Text(), "-1");
  EXPECT_EQ(ui.SfdLossText.BackColor(), kGreen);

  ui.CpeSelect.UserChoose(1);
  Receive("Subscriber 01 SFD Loss Count: 000B");
  EXPECT_EQ(ui.SfdLossText.Text(), " 11");
  EXPECT_EQ(ui.SfdLossText.BackColor(), kRed);
}

TEST_F(OpStatusLineCardTest, SignalStrengthSkipsCpesInAcquisition) {
  Receive("op_status: 02020202");
  Receive("FF28: 01 02 03 04");
  EXPECT_EQ(Rssis(), (Lines{" 1", " 2", " 3", " 4"}));

  Receive("op_status: 02000102");
  ui.RssiText.SetText("none");
  Receive("FF28: 1A 0C 00 FF");
  EXPECT_EQ(Rssis(), (Lines{" 26", " 2", " 0", " 255"}));
  EXPECT_EQ(ui.RssiText.Text(), " 26");
  EXPECT_EQ(ui.RssiText.BackColor(), kGreen);

  // A short line reads the missing bytes as 0.
  Receive("FF28: 1B 0C");
  EXPECT_EQ(Rssis(), (Lines{" 27", " 2", " 0", " 0"}));

  ui.CpeSelect.UserChoose(1);
  EXPECT_EQ(ui.RssiText.Text(), " 2");
  EXPECT_EQ(ui.RssiText.BackColor(), kRed);
}

TEST_F(OpStatusLineCardTest, SignalStrengthCopiesTheSelectedCpeEvenWhenNoneWasUpdated) {
  ui.RssiText.SetText("none");
  Receive("FF28: 10 10 10 10");
  EXPECT_EQ(Rssis(), Lines(4, "0"));
  EXPECT_EQ(ui.RssiText.Text(), "0");
  EXPECT_EQ(ui.RssiText.BackColor(), kRed);
}

// ---- Neither application: the parsers leave everything alone.

class OpStatusIdleTest : public ConsoleTest {
 protected:
  void SetUp() override { Form_Load(c); }
};

TEST_F(OpStatusIdleTest, ParsersDoNothingWhileNoApplicationRuns) {
  for (std::int32_t type : {ProgramType::Unknown, ProgramType::BootLoader}) {
    s.ProgramType = type;
    for (const char* text :
         {"op_status: 02020202", "Subscriber 01 Ranging Completed Successfully",
          "Subscriber 01 Communications Lost", "SFD Loss Count: 0003",
          "Subscriber 01 SFD Loss Count: 0003", "FF28: 1A 1A 1A 1A", "Starting Ranging"}) {
      s.CpeStatus[1].Rssi = "kept";
      std::string line = text;
      ParseOpStatus(c, line);
      ParseSfdLossCount(c, line);
      ParseSignalStrength(c, line);
      EXPECT_EQ(ui.OpStateText.Text(), "Acquisition") << text;
      EXPECT_EQ(ui.RssiText.Text(), "0") << text;
      EXPECT_EQ(ui.SfdLossText.Text(), "") << text;
      EXPECT_EQ(s.CpeStatus[1].Rssi, "kept") << text;
      EXPECT_EQ(s.CpeStatus[1].OpState, "Acquisition") << text;
    }
  }
}

TEST(OpStateDescription, OnlyCodes1And2HaveTheirOwnText) {
  EXPECT_EQ(DescribeOpState(1), "Ranging");
  EXPECT_EQ(DescribeOpState(2), "Locked");
  for (int code : {0, 3, 12, 255}) EXPECT_EQ(DescribeOpState(code), "Acquisition") << code;
}

}  // namespace
}  // namespace velmora::testing
