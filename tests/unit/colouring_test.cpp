// The warning colours of the four status fields, from their text alone, whoever wrote it.
#include <gtest/gtest.h>

#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

struct Band {
  const char* text;
  Color colour;
};

class ColouringTest : public ConsoleTest {
 protected:
  void SetUp() override {
    fake.port.SetPort(1, FakeSerialPort::Availability::Free);
    Form_Load(c);
  }
  // The colour that the field's own change handler gives the text, starting from a colour that
  // no rule gives.
  static Color ColourOf(TextBox& field, const std::string& text) {
    field.SetText("#other");
    field.SetBackColor(kSystemWindowBackground);
    field.SetText(text);
    return field.BackColor();
  }
  static void Check(TextBox& field, std::initializer_list<Band> bands) {
    for (const Band& b : bands)
      EXPECT_EQ(ColourOf(field, b.text), b.colour) << field.Name() << " \"" << b.text << "\"";
  }
  void Receive(const std::string& line) { fake.port.Feed(line + "\r\n"); }
  std::vector<Color> Colours() const {
    return {ui.OpStateText.BackColor(), ui.RssiText.BackColor(), ui.SfdLossText.BackColor(),
            ui.TemperatureText.BackColor()};
  }
};

TEST_F(ColouringTest, StartUpShowsAllFourFieldsRed) {
  EXPECT_EQ(Colours(), std::vector<Color>(4, kRed));
}

TEST_F(ColouringTest, OperationalStateComparesTextExactly) {
  Check(ui.OpStateText, {{"Ranging", kYellow},
                         {"Locked", kGreen},
                         {"Acquisition", kRed},
                         {"locked", kRed},
                         {"LOCKED", kRed},
                         {"Locked ", kRed},
                         {" Ranging", kRed},
                         {"", kRed}});
}

TEST_F(ColouringTest, SignalStrengthBands) {
  Check(ui.RssiText, {{"0", kRed},
                      {" 0", kRed},
                      {"5", kRed},
                      {" 5", kRed},
                      {"6", kYellow},
                      {"8", kYellow},
                      {"9", kGreen},
                      {" 26", kGreen},
                      {" 255", kGreen},
                      {"", kRed},
                      {"abc", kRed},
                      {"4.5", kRed},
                      {"5.5", kYellow},
                      {"8.5", kYellow},
                      {"8.51", kGreen},
                      // No byte: red.
                      {"256", kRed},
                      {"-1", kRed},
                      {"99999999999", kRed}});
}

TEST_F(ColouringTest, SfdLossBands) {
  Check(ui.SfdLossText, {{"", kRed},
                         {"0", kGreen},
                         {" 0", kGreen},
                         {"3", kGreen},
                         {"4", kYellow},
                         {" 4", kYellow},
                         {"10", kYellow},
                         {"11", kRed},
                         {" 255", kRed},
                         {"-1", kGreen},
                         {"-32768", kGreen},
                         {"abc", kGreen},
                         {"2.5", kGreen},
                         {"3.5", kYellow},
                         {"10.5", kYellow},
                         {"2147483647", kRed},
                         {"-2147483648", kGreen},
                         // Beyond 32 bits: red.
                         {"2147483648", kRed},
                         {"-2147483649", kRed}});
}

TEST_F(ColouringTest, TemperatureBands) {
  Check(ui.TemperatureText, {{"", kRed},
                             {"61", kRed},
                             {"60", kYellow},
                             {"40", kYellow},
                             {"39", kGreen},
                             {" 25", kGreen},
                             {"0", kGreen},
                             {"-19", kGreen},
                             {"-20", kYellow},
                             {"-30", kYellow},
                             {"-31", kRed},
                             {"abc", kGreen},
                             {"??", kGreen},
                             {"39.5", kYellow},
                             {"38.5", kGreen},
                             {"60.5", kYellow},
                             {"-19.5", kYellow},
                             {"-30.5", kYellow},
                             {"-31.5", kRed},
                             {"32767", kRed},
                             {"-32768", kRed},
                             // Beyond 16 bits: red.
                             {"32768", kRed},
                             {"-32769", kRed},
                             {"99999999999", kRed}});
}

TEST_F(ColouringTest, ColourFollowsParsersShownRecordsAndViews) {
  ui.CommPortSelect.UserChoose(1);
  Receive("Line Card Application Initialized");
  EXPECT_EQ(Colours(), std::vector<Color>(4, kRed));

  // Parsers: CPE 1's values are stored, CPE 0 is shown.
  Receive("op_status: 00020000");
  Receive("FF28: 00 1A 00 00");
  Receive("Subscriber 01 SFD Loss Count: 0005");
  Receive("temperature: 0019");
  EXPECT_EQ(Colours(), (std::vector<Color>{kRed, kRed, kRed, kGreen}));

  // The shown record.
  ui.CpeSelect.UserChoose(1);
  EXPECT_EQ(Colours(), (std::vector<Color>{kGreen, kGreen, kYellow, kGreen}));
  Receive("Subscriber 01 Starting Ranging");
  EXPECT_EQ(ui.OpStateText.BackColor(), kYellow);

  // The boot loader's view resets three fields and leaves the temperature.
  Receive("Boot Loader Initialized");
  EXPECT_EQ(Colours(), (std::vector<Color>{kRed, kRed, kRed, kGreen}));

  // The unknown view resets all four.
  ui.CommPortSelect.UserChoose(0);
  EXPECT_EQ(Colours(), std::vector<Color>(4, kRed));
}

TEST_F(ColouringTest, CpeApplicationValuesColourTheFieldsDirectly) {
  ui.CommPortSelect.UserChoose(1);
  Receive("CPE Application Initialized");
  Receive("Ranging Completed Successfully");
  Receive("FF28: 07 00 00 00");
  Receive("SFD Loss Count: 000C");
  Receive("temperature: FFE1");
  EXPECT_EQ(Colours(), (std::vector<Color>{kGreen, kYellow, kRed, kRed}));
}

}  // namespace
}  // namespace velmora::testing
