// Every reply parser and the program detection: what the card's lines show the engineer.
#include <gtest/gtest.h>

#include "support/console_fixture.h"

namespace velmora::testing {
namespace {
const std::string kBoot = "Boot Loader Initialized\n",
                  kLine = "Line Card Application Initialized\n",
                  kCpe = "CPE Application Initialized\n";

TEST_F(ConnectedConsoleTest, ProgramIsRecognisedOnlyByTheTextsLookedForInTheCurrentOne) {
  CheckRows("Program",
            {{kBoot, "BOOT LOADER"},
             {"  Maximum CPU% = 37", "BOOT LOADER"},
             {kLine, "LINE CARD APP"},
             {kCpe, "CPE APP"},
             {"Maximum CPU% CPE Application Initialized", "CPE APP"},
             {"CPE Application Initialized Boot Loader Initialized", "BOOT LOADER"},
             {"cpe_reset #\nStops Application\nmaximum cpu%", "UNKNOWN"},
             {kBoot + "  cpe_reset #n   reset CPE n", "LINE CARD APP"},
             {kBoot + "  stop           Stops Application", "CPE APP"},
             {kBoot + "Stops Application cpe_reset #", "LINE CARD APP"},
             {kBoot + "cpe_reset # CPE Application Initialized", "CPE APP"},
             {kBoot + "Maximum CPU%\nCpe_reset #", "BOOT LOADER"},
             {kLine + kCpe + "Maximum CPU%\ncpe_reset #\nStops Application", "LINE CARD APP"},
             {kCpe + kLine + "Maximum CPU%\ncpe_reset #", "CPE APP"},
             {kCpe + "** Boot Loader Initialized **", "BOOT LOADER"}});
  // The help listing reveals the line card before the version parser reads the line; the boot
  // loader's banner reaches no parser.
  CheckRows("Program BootLoaderText ApplicationText GenericLabel",
            {{kBoot + "    Version:  Line Card 4.2 cpe_reset #",
              "LINE CARD APP|???|Line Card 4.2 cpe_reset #|Telephony:"},
             {"    Version:  Boot Loader Initialized", "BOOT LOADER|???|???|Telephony:"},
             {kCpe + "    Version:  Boot 1\n    Version:  Boot Loader Initialized",
              "BOOT LOADER|Boot 1|???|Range:"}});
}

TEST_F(ConnectedConsoleTest, VersionLineFillsTheFieldItsTextNames) {
  CheckRows("BootLoaderText ApplicationText FirmwareText",
            {{kBoot + "    Version:  Boot Loader 2.04", "Boot Loader 2.04|???|???"},
             {kBoot + "    Version:  CPE Application 3.1", "???|CPE Application 3.1|???"},
             {kBoot + "    Version:  CPE Boot 1", "CPE Boot 1|???|???"},
             {kBoot + "    Version:  boot cpe line", "???|???|boot cpe line"},
             // The value starts at the 15th character, wherever the key was found.
             {kBoot + "->    Version:  Boot 9", "  Boot 9|???|???"},
             {kBoot + "    Version:  \n   Version:  Boot 9\n    Version: Boot 9", "???|???|???"}});
}

TEST_F(ConnectedConsoleTest, ApplicationLineGoesToEveryParserAndABadValueEndsOnlyThatLine) {
  CheckRows("RssiText OpStateText TemperatureText",
            {{kCpe + "FF28: 1F   020019 op_status: temperature: ", " 31|Locked| 25"},
             {kCpe + "FF28: 1F   -10019 op_status: temperature: ", " 31|Acquisition|"}});
  CheckRows("OpStates ApplicationText",
            {{kLine + "op_status: 02-10000\n    Version:  Line 5\nSubscriber 03 Starting Ranging",
              "Locked,Acquisition,Acquisition,Ranging|Line 5"}});
}

TEST_F(ConnectedConsoleTest, EepromReadBacksSetTheControlsAndLeaveUpdateDisabled) {
  CheckRows("SfdText SfdButton.Enabled", {{kLine + "0000: FFFF", "-1|0"},
                                          {kLine + "0000: 12345678", "305419896|0"},
                                          {kCpe + "0000: ", "0|0"},
                                          {kCpe + "0000: 1G", "1|0"}});
  // Telephony: the two low bits, only above 4; Range: greater only for exactly 1. No byte:
  // nothing changes, and the rest of the line is not read.
  CheckRows("PCM GenericSelect GenericButton.Enabled TemperatureText",
            {{kLine + "0004: 06", "6|2|0|"},
             {kLine + "0004: 04", "4|0|0|"},
             {kLine + "0004: A5", "165|1|0|"},
             {kLine + "0004: 0006", "6|2|0|"},
             {kLine + "0004: 06\n0004: 1F 2A", "6|2|0|"},
             {kLine + "0004: 06\n0004: 100 temperature: 0019", "6|2|0|"},
             {kCpe + "0004: 01", "1|1|0|"},
             {kCpe + "0004: 05", "5|0|0|"}});
  CheckRows("V35Select V35Button.Enabled", {{kCpe + "0005: 02", "2|0"},
                                            {kCpe + "0005: 01", "1|0"},
                                            {kCpe + "0005: 03", "0|0"},
                                            {kLine + "0005: FFFF", "0|0"}});
  // The first marker in the order 0, 4, 5 decides.
  CheckRows("SfdText GenericSelect V35Select",
            {{kLine + "0004: 07,0005: 00", "|3|-1"}, {kLine + "0005: 02,0000: ", "2|-1|-1"}});
}

TEST_F(ConnectedConsoleTest, RadioSettingsAndTemperatureAreReadAtFixedPositions) {
  CheckRows("TimeSlotText FrequencyText CdmaText",
            {{kLine + "FF12: 2D 00 00 00 00 00 00 00", " 2| 1| 3"},
             {kCpe + "FF12: F0", " 3| 0| 0"},
             {kCpe + "FF12: ", " 0| 0| 0"},
             {kCpe + "FF12: G5", " 0| 1| 1"},
             {kCpe + "FF12: 2 ", " 2| 0| 0"},
             {kCpe + ">FF12: 2D", " 0| 2| 0"}});
  CheckRows("TemperatureText TemperatureText.Colour",
            {{kCpe + "temperature: 0019", " 25|green"},
             {kCpe + "temperature: FFF6", "-10|green"},
             {kCpe + "temperature: FFE2", "-30|yellow"},
             {kCpe + ">temperature: 0019", " 1|green"},
             {kLine + "temperature: 8000", "-32768|red"}});
}

TEST_F(ConnectedConsoleTest, CpeApplicationShowsItsOwnLinkAndLines) {
  CheckRows("OpStateText OpStateText.Colour TemperatureText",
            {{kCpe + "op_status: 02", "Locked|green|"},
             {kCpe + "op_status: 0199", "Ranging|yellow|"},
             {kCpe + "op_status: 02\nop_status: 07", "Acquisition|red|"},
             {kCpe + ">op_status: 12", "Ranging|yellow|"},
             {kCpe + "Ranging Completed Successfully", "Locked|green|"},
             {kCpe + "op_status: 02\nStarting Acquisition", "Acquisition|red|"},
             {kCpe + "Ranging Completed Successfully after Starting Ranging", "Ranging|yellow|"},
             {kCpe + "op_status: 02\nSubscriber 00 Communications Lost\nCommanded Reset",
              "Locked|green|"},
             {kCpe + "op_status: 02\nop_status: -1 temperature: 0019", "Locked|green|"}});
  CheckRows("SfdLossText SfdLossText.Colour RssiText RssiText.Colour",
            {{kCpe + "SFD Loss Count: 00FF", " 255|red|0|red"},
             {kCpe + "SFD Loss Count: FFFF", "-1|green|0|red"},
             {kCpe + "SFD Loss Count: 000A5", " 10|yellow|0|red"},
             {kCpe + "abSFD Loss Count: 0010", " 0|green|0|red"},
             {kCpe + "FF28: 1A 0C 00 FF", "|red| 26|green"}});
  CheckRows(
      "Line1Hook Line2Hook Line1Ring Line2Ring",
      {{kCpe + "hook_state: 0100", "ON HOOK|OFF HOOK|RING OFF|RING OFF"},
       {kCpe + "hook_state: 01", "ON HOOK|OFF HOOK|RING OFF|RING OFF"},
       {kCpe + ">hook_state: 0101", "OFF HOOK|ON HOOK|RING OFF|RING OFF"},
       {kCpe + "ring_state: 0201", "ON HOOK|ON HOOK|RING OFF|RING ON"},
       {kCpe + "Channel 01 OFF HOOK", "ON HOOK|OFF HOOK|RING OFF|RING OFF"},
       {kCpe + "Channel 00 OFF HOOK", "OFF HOOK|ON HOOK|RING OFF|RING OFF"},
       {kCpe + "Channel 02 OFF HOOK\nChannel FF OFF HOOK", "ON HOOK|ON HOOK|RING OFF|RING OFF"},
       {kCpe + "xChannel 01 RING ON", "ON HOOK|ON HOOK|RING ON|RING OFF"},
       {kCpe + "Channel 00 OFF HOOK\nChannel 01 RING ON\nChannel 00 ON HOOK\nChannel 01 RING OFF",
        "ON HOOK|ON HOOK|RING OFF|RING OFF"},
       {kCpe + "hook_state: -1 RING ON", "ON HOOK|ON HOOK|RING OFF|RING OFF"}});
  CheckRows("Cpe0",
            {{kCpe + "Channel 01 OFF HOOK", "Acquisition|0||ON HOOK|RING OFF|ON HOOK|RING OFF"}});
}

TEST_F(ConnectedConsoleTest, LineCardStoresEachCpeAndShowsTheSelectedOne) {
  const std::string fresh = "|0||ON HOOK|RING OFF|ON HOOK|RING OFF";
  CheckRows(
      {{kLine + "@cpe 1\nop_status: 02010000", "OpStates OpStateText",
        "Locked,Ranging,Acquisition,Acquisition|Ranging"},
       {kLine + "Subscriber 02 Starting Ranging", "OpStates OpStateText",
        "Acquisition,Acquisition,Ranging,Acquisition|Acquisition"},
       {kLine + "@cpe 3\nSubscriber 03 Ranging Completed Successfully\nSubscriber 03 Starting "
                "Acquisition",
        "OpStates OpStateText.Colour", "Acquisition,Acquisition,Acquisition,Locked|green"},
       // The subscriber number stands at positions 12-13 of the line.
       {kLine + ">Subscriber 01 Starting Ranging", "OpStates",
        "Ranging,Acquisition,Acquisition,Acquisition"},
       {kLine + "op_status: 00020000\nSubscriber 01 SFD Loss Count: 0009\n"
                "Subscriber 01 Communications Lost, Starting Ranging",
        "Cpe1", "Ranging|0| 9|ON HOOK|RING OFF|ON HOOK|RING OFF"},
       {kLine + "op_status: 00020000\nSubscriber 01 SFD Loss Count: 0009\n"
                "Subscriber 01 Ranging Completed Successfully, Communications Lost",
        "Cpe1", "Acquisition" + fresh},
       {kLine +
            "op_status: 00000000\nSubscriber 01 Commanded Reset, Ranging Completed Successfully",
        "Cpe1", "Locked" + fresh},
       // A subscriber above 3 stores nothing and ends the line.
       {kLine +
            "op_status: 02020202\nSubscriber 04 Ranging Completed Successfully temperature: 0019\n"
            "Subscriber 0A Starting Ranging\nSubscriber FF Commanded Reset\n"
            "Subscriber 04 SFD Loss Count: 0001 temperature: 0019",
        "OpStates SfdLossText TemperatureText", "Locked,Locked,Locked,Locked||"},
       // A lost link resets that CPE and rewrites the fields from the selected one.
       {kLine + "op_status: 02000002\nFF28: 1C 00 00 1A\nSubscriber 03 SFD Loss Count: 0005\n"
                "Subscriber 03 Channel 01 RING ON\n@cpe 3\nSubscriber 03 Communications Lost",
        "Cpe3 Cpe0 RssiText RssiText.Colour Line2Ring",
        "Acquisition" + fresh + "|Locked| 28||ON HOOK|RING OFF|ON HOOK|RING OFF|0|red|RING OFF"},
       {kLine + "op_status: 02000002\nFF28: 1C 00 00 1A\nSubscriber 03 Commanded Reset",
        "Cpe3 RssiText OpStateText", "Acquisition" + fresh + "| 28|Locked"},
       {kLine + "Subscriber 01 SFD Loss Count: 0010", "Cpe1 SfdLossText",
        "Acquisition|0| 16" + fresh.substr(3) + "|"},
       {kLine + "Subscriber 02, link 7, SFD Loss Count: 0A0B\nSubscriber 00 SFD Loss Count: 00123",
        "Cpe2 SfdLossText", "Acquisition|0| 2571|ON HOOK|RING OFF|ON HOOK|RING OFF| 18"},
       {kLine + "@cpe 1\nSubscriber 01 SFD Loss Count: 000B", "SfdLossText SfdLossText.Colour",
        " 11|red"},
       // Signal strength skips CPEs still acquiring; missing bytes read as 0.
       {kLine + "op_status: 02000102\nFF28: 1A 0C 00 FF", "Rssis RssiText", " 26,0, 0, 255| 26"},
       {kLine + "op_status: 02000102\nFF28: 1A 0C 00 FF\nFF28: 1B 0C", "Rssis", " 27,0, 0, 0"},
       // Hook and ring states: only a locked CPE's count.
       {kLine +
            "op_status: 02000100\nSubscriber 01 Channel 00 OFF HOOK\nhook_state: 0001000000000000\n"
            "ring_state: 0100010101010101",
        "Cpe0 Cpe1 Line1Hook Line1Ring",
        "Locked|0||OFF HOOK|RING ON|ON HOOK|RING OFF|Acquisition|0||OFF HOOK|RING OFF|ON HOOK|RING "
        "OFF|OFF HOOK|RING ON"},
       {kLine + "op_status: 02020000\nhook_state: 00000100\n@cpe 1", "Line1Hook Line2Hook",
        "ON HOOK|OFF HOOK"},
       {kLine + "op_status: 02020202\nhook_state: 0101\nring_state: 010101", "Cpe1",
        "Locked|0||OFF HOOK|RING ON|OFF HOOK|RING OFF"},
       {kLine + "op_status: 02020000\nhook_state: 0000-101 Channel 01 RING ON", "Cpe0 Line1Hook",
        "Locked|0||OFF HOOK|RING OFF|OFF HOOK|RING OFF|ON HOOK"},
       {kLine + "op_status: 02000000\nhook_state: 0000 Channel 01 ON HOOK", "Cpe0",
        "Locked|0||OFF HOOK|RING OFF|OFF HOOK|RING OFF"},
       {kLine + "Subscriber 02 Channel 01 RING ON", "Cpe2 Line2Ring",
        "Acquisition|0||ON HOOK|RING OFF|ON HOOK|RING ON|RING OFF"},
       {kLine +
            "@cpe 3\nSubscriber 03, port 4, Channel 01 OFF HOOK\nSubscriber 03 Channel 00 RING ON",
        "Line1Ring Line2Hook", "RING ON|OFF HOOK"},
       {kLine + "Subscriber 00 Channel 1 OFF HOOK\nSubscriber 00 Channel 00 RING ON then RING OFF",
        "Cpe0", "Acquisition|0||ON HOOK|RING OFF|OFF HOOK|RING OFF"},
       {kLine + "Subscriber 02 Channel 02 RING ON temperature: 0019\nSubscriber 01 OFF HOOK "
                "temperature: "
                "0019\n"
                "Subscriber 04 Channel 00 OFF HOOK temperature: 0019",
        "Cpe1 Cpe2 TemperatureText", "Acquisition" + fresh + "|Acquisition" + fresh + "|"}});
}

TEST_F(ConnectedConsoleTest, StatusFieldsAreColouredFromTheirTextAlone) {
  const struct {
    TextBox& field;
    std::vector<std::pair<std::string, Color>> colours;  // text, colour
    // clang-format off
  } rows[] = {
      {ui.OpStateText,
       {{"Ranging", kYellow}, {"Locked", kGreen}, {"locked", kRed}, {"Locked ", kRed}}},
      {ui.RssiText, {{"5", kRed}, {"6", kYellow}, {"8.5", kYellow}, {"8.51", kGreen},
                     {"255", kGreen}, {"256", kRed}, {"-1", kRed}, {"abc", kRed}}},
      {ui.SfdLossText, {{"", kRed}, {"3", kGreen}, {"3.5", kYellow}, {"10", kYellow}, {"11", kRed},
                        {"-1", kGreen}, {"abc", kGreen}, {"2147483648", kRed}}},
      {ui.TemperatureText, {{"", kRed}, {"61", kRed}, {"60", kYellow}, {"40", kYellow},
                            {"39", kGreen}, {"39.5", kYellow}, {"-19", kGreen}, {"-20", kYellow},
                            {"-30", kYellow}, {"-31", kRed}, {"abc", kGreen}, {"32768", kRed}}}};
  // clang-format on
  for (const auto& r : rows)
    for (const auto& [text, colour] : r.colours) {
      r.field.SetText("#");
      r.field.SetBackColor(kSystemWindowBackground);
      r.field.SetText(text);
      EXPECT_EQ(r.field.BackColor(), colour) << r.field.Name() << " \"" << text << "\"";
    }
}

}  // namespace
}  // namespace velmora::testing
