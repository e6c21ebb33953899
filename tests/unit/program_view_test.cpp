// Start-up, shut-down and the four program views.
#include <gtest/gtest.h>

#include "app/program_view.h"
#include "replies/numbers.h"
#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

std::vector<std::string> ItemTexts(const ComboBox& box) {
  std::vector<std::string> texts;
  for (const auto& item : box.Items()) texts.push_back(item.text);
  return texts;
}

void SetView(Console& c, std::int32_t type) {
  c.state.ProgramType = type;
  ApplyProgramView(c, type);
}

// Members of the configuration, power and status frames, which only the applications show.
std::vector<Control*> AppOnlyControls(MainWindow& ui) {
  return {&ui.FrequencyLabel, &ui.FrequencyText, &ui.CdmaLabel,    &ui.CdmaText,
          &ui.TimeSlotLabel,  &ui.TimeSlotText,  &ui.SfdLabel,     &ui.SfdText,
          &ui.SfdButton,      &ui.GenericLabel,  &ui.GenericSelect, &ui.GenericButton,
          &ui.V35Label,       &ui.V35Select,     &ui.V35Button,    &ui.BattVoltLabel,
          &ui.BattVoltText,   &ui.TemperatureLabel, &ui.TemperatureText, &ui.OpStateLabel,
          &ui.OpStateText,    &ui.RssiLabel,     &ui.RssiText,     &ui.SfdLossLabel,
          &ui.SfdLossText,    &ui.Line1Label,    &ui.Line1Hook,    &ui.Line1Ring,
          &ui.Line2Label,     &ui.Line2Hook,     &ui.Line2Ring};
}

void QueueEveryRequest(ConsoleState& s) {
  s.SfdWritePending = s.GenericWritePending = s.V35WritePending = s.CommandLinePending = true;
}

TEST_F(ConsoleTest, StartUpLeavesAnIdleConsoleInTheUnknownView) {
  fake.port.SetPort(2, FakeSerialPort::Availability::Free);
  Form_Load(c);
  for (const auto& r : s.CpeStatus) {
    EXPECT_EQ(r.OpState, "Acquisition");
    EXPECT_EQ(r.Rssi, "0");
    EXPECT_EQ(r.SfdLoss, "");
    for (const auto& line : r.Lines) {
      EXPECT_EQ(line.Hook, "ON HOOK");
      EXPECT_EQ(line.Ring, "RING OFF");
    }
  }
  EXPECT_EQ(s.ProgramType, 0);
  EXPECT_EQ(s.PortListIndex, -1);
  EXPECT_EQ(s.SelectedCpe, 0);
  EXPECT_TRUE(fake.transmitTimer.Enabled());
  EXPECT_EQ(fake.transmitTimer.Interval(), 100);
  EXPECT_FALSE(fake.downloadTimer.Enabled());
  EXPECT_FALSE(fake.port.IsOpen());
  EXPECT_EQ(ui.ProgramText.Text(), "UNKNOWN");
  EXPECT_EQ(ui.CommPortSelect.ListIndex(), -1);
  EXPECT_EQ(ui.GUI_Tabs.ShownCaption(), "Configuration");
  EXPECT_TRUE(fake.port.writes.empty());
}

TEST_F(ConsoleTest, UnknownViewShowsEmptyFramesAndDropsEveryQueuedRequest) {
  Form_Load(c);
  SetView(c, ProgramType::LineCardApp);
  ui.CpeSelect.SetListIndex(2);
  s.SelectedCpe = 2;
  ui.BootLoaderText.SetText("Boot 1.0");
  ui.CommandLineText.SetText("help");
  QueueEveryRequest(s);

  SetView(c, ProgramType::Unknown);

  for (Control* control : AppOnlyControls(ui)) EXPECT_FALSE(control->Visible()) << control->Name();
  for (Control* frame : {&ui.SoftwareConfig, &ui.OpConfig, &ui.RemoteStatus, &ui.LocalStatus})
    EXPECT_TRUE(frame->Visible());
  for (TextBox* t : {&ui.BootLoaderText, &ui.ApplicationText, &ui.FirmwareText}) {
    EXPECT_EQ(t->Text(), "???");
    EXPECT_FALSE(t->Visible());
  }
  for (TextBox* t : {&ui.FrequencyText, &ui.CdmaText, &ui.TimeSlotText, &ui.BattVoltText})
    EXPECT_EQ(t->Text(), "??");
  EXPECT_EQ(ui.BattVoltText.BackColor(), kRed);
  EXPECT_FALSE(ui.SoftwareLabel.Visible());
  EXPECT_FALSE(ui.DownloadButton.Visible());
  EXPECT_FALSE(ui.SfdButton.Enabled());
  EXPECT_EQ(ui.OpStateText.Text(), "Acquisition");
  EXPECT_EQ(ui.RssiText.Text(), "0");
  EXPECT_EQ(ui.SfdLossText.Text(), "");
  EXPECT_EQ(ui.TemperatureText.Text(), "");
  EXPECT_EQ(ui.Line1Hook.Text(), "ON HOOK");
  EXPECT_EQ(ui.Line2Ring.Text(), "RING OFF");
  EXPECT_EQ(ui.CpeSelect.ListIndex(), 0);
  EXPECT_EQ(s.SelectedCpe, 0);
  EXPECT_FALSE(ui.CpeSelect.Visible());
  EXPECT_EQ(ui.CommandLineText.Text(), "");
  EXPECT_TRUE(ui.CommandLineText.Locked());
  EXPECT_FALSE(ui.CommandLineButton.Enabled());
  EXPECT_EQ(ui.ProgramText.Text(), "UNKNOWN");
  EXPECT_EQ(ui.ProgramText.BackColor(), kRed);
  EXPECT_FALSE(s.SfdWritePending || s.GenericWritePending || s.V35WritePending ||
               s.CommandLinePending);
}

TEST_F(ConsoleTest, BootLoaderAfterAnApplicationKeepsVersionsAndTheQueuedCommandLine) {
  Form_Load(c);
  SetView(c, ProgramType::CpeApp);
  ui.BootLoaderText.SetText("Boot Loader 2.04");
  ui.ApplicationText.SetText("CPE 3.1");
  ui.FirmwareText.SetText("FPGA 7");
  ui.TemperatureText.SetText(" 25");
  ui.BattVoltText.SetBackColor(kGreen);
  ui.CommandLineText.SetText("versions");
  QueueEveryRequest(s);

  SetView(c, ProgramType::BootLoader);

  EXPECT_EQ(ui.BootLoaderText.Text(), "Boot Loader 2.04");
  EXPECT_EQ(ui.ApplicationText.Text(), "CPE 3.1");
  EXPECT_EQ(ui.FirmwareText.Text(), "FPGA 7");
  for (Control* v : {static_cast<Control*>(&ui.SoftwareLabel), static_cast<Control*>(&ui.FirmwareLabel),
                     static_cast<Control*>(&ui.BootLoaderText), static_cast<Control*>(&ui.DownloadButton)})
    EXPECT_TRUE(v->Visible()) << v->Name();
  for (Control* control : AppOnlyControls(ui)) EXPECT_FALSE(control->Visible()) << control->Name();
  EXPECT_FALSE(ui.CpeSelect.Visible());
  EXPECT_EQ(ui.TemperatureText.Text(), " 25");
  EXPECT_EQ(ui.BattVoltText.BackColor(), kGreen);
  EXPECT_EQ(ui.OpStateText.Text(), "Acquisition");
  EXPECT_EQ(ui.CommandLineText.Text(), "versions");
  EXPECT_FALSE(ui.CommandLineText.Locked());
  EXPECT_TRUE(ui.CommandLineButton.Enabled());
  EXPECT_FALSE(s.SfdWritePending || s.GenericWritePending || s.V35WritePending);
  EXPECT_TRUE(s.CommandLinePending);
  EXPECT_EQ(ui.ProgramText.Text(), "BOOT LOADER");
  EXPECT_EQ(ui.ProgramText.BackColor(), kYellow);
}

TEST_F(ConsoleTest, LineCardViewShowsTelephonySettingsAndTheResetRecordOfTheSelectedCpe) {
  Form_Load(c);
  s.SelectedCpe = 2;
  s.CpeStatus[2].OpState = "Locked";
  s.CpeStatus[2].Rssi = " 40";
  ui.SfdText.SetText("31");
  QueueEveryRequest(s);

  SetView(c, ProgramType::LineCardApp);

  EXPECT_EQ(s.CpeStatus[2].OpState, "Acquisition");
  EXPECT_EQ(ui.OpStateText.Text(), "Acquisition");
  EXPECT_EQ(ui.RssiText.Text(), "0");
  EXPECT_EQ(ui.GenericLabel.Caption(), "Telephony:");
  EXPECT_EQ(ItemTexts(ui.GenericSelect),
            (std::vector<std::string>{"T1 & 16 KHz Tone", "E1 & 16 KHz Tone", "T1 & 12 KHz Tone",
                                      "E1 & 12 KHz Tone"}));
  EXPECT_EQ(ui.GenericSelect.ListIndex(), -1);
  EXPECT_EQ(ui.V35Select.ListIndex(), -1);
  EXPECT_EQ(ui.GenericButton.Caption(), "Update Telephony");
  for (CommandButton* b : {&ui.SfdButton, &ui.GenericButton, &ui.V35Button}) {
    EXPECT_FALSE(b->Enabled()) << b->Name();
    EXPECT_TRUE(b->Visible()) << b->Name();
  }
  EXPECT_EQ(ui.SfdText.Text(), "");
  for (Control* control : AppOnlyControls(ui)) EXPECT_TRUE(control->Visible()) << control->Name();
  EXPECT_TRUE(ui.CpeSelect.Visible());
  EXPECT_TRUE(ui.CpeLabel.Visible());
  EXPECT_EQ(ui.ProgramText.Text(), "LINE CARD APP");
  EXPECT_EQ(ui.ProgramText.BackColor(), kGreen);
  EXPECT_EQ(s.PollTick, 1);
  EXPECT_EQ(s.PollStep, 0);
  EXPECT_TRUE(s.InitialReadPending);
  // An application keeps what the engineer queued.
  EXPECT_TRUE(s.SfdWritePending && s.GenericWritePending && s.V35WritePending);
}

TEST_F(ConsoleTest, LineCardViewTwiceResetsRecordsAndScheduleTwiceAndRefillsTheList) {
  Form_Load(c);
  SetView(c, ProgramType::LineCardApp);
  s.CpeStatus[1].OpState = "Locked";
  s.PollTick = 7;
  s.PollStep = 4;
  s.InitialReadPending = false;

  SetView(c, ProgramType::LineCardApp);

  EXPECT_EQ(s.CpeStatus[1].OpState, "Acquisition");
  EXPECT_EQ(s.PollTick, 1);
  EXPECT_EQ(s.PollStep, 0);
  EXPECT_TRUE(s.InitialReadPending);
  EXPECT_EQ(ui.GenericSelect.ListCount(), 4);
}

TEST_F(ConsoleTest, CpeViewAfterLineCardOffersRangeAndKeepsRecordsAndSelectedCpe) {
  Form_Load(c);
  SetView(c, ProgramType::LineCardApp);
  s.SelectedCpe = 3;
  s.CpeStatus[3].OpState = "Locked";

  SetView(c, ProgramType::CpeApp);

  EXPECT_EQ(ItemTexts(ui.GenericSelect),
            (std::vector<std::string>{"Less than 25 miles", "Greater than 25 miles"}));
  EXPECT_EQ(ui.GenericLabel.Caption(), "Range:");
  EXPECT_EQ(ui.GenericButton.Caption(), "Update Range");
  EXPECT_FALSE(ui.CpeSelect.Visible());
  EXPECT_FALSE(ui.CpeLabel.Visible());
  EXPECT_EQ(s.SelectedCpe, 3);
  EXPECT_EQ(s.CpeStatus[3].OpState, "Locked");
  EXPECT_EQ(ui.ProgramText.Text(), "CPE APP");
}

TEST_F(ConsoleTest, OnlyTheApplicationViewsEmptyTheSfdField) {
  Form_Load(c);
  for (std::int32_t type : {ProgramType::Unknown, ProgramType::BootLoader}) {
    ui.SfdText.SetText("12");
    SetView(c, type);
    EXPECT_EQ(ui.SfdText.Text(), "12") << type;
  }
  for (std::int32_t type : {ProgramType::LineCardApp, ProgramType::CpeApp}) {
    ui.SfdText.SetText("12");
    SetView(c, type);
    EXPECT_EQ(ui.SfdText.Text(), "") << type;
  }
}

TEST_F(ConsoleTest, AViewOutsideTheFourChangesNothing) {
  Form_Load(c);
  QueueEveryRequest(s);
  for (std::int32_t bad : {-1, 4, 1000}) ApplyProgramView(c, bad);
  EXPECT_EQ(ui.ProgramText.Text(), "UNKNOWN");
  EXPECT_TRUE(s.CommandLinePending && s.SfdWritePending);
}

TEST_F(ConsoleTest, ShowCpeStatusShowsTheSelectedRecordAndResetDoesNotTouchTheFields) {
  Form_Load(c);
  s.CpeStatus[2] = {"Locked", " 40", " 3", {{{"OFF HOOK", "RING ON"}, {"ON HOOK", "RING OFF"}}}};
  s.SelectedCpe = 2;
  ShowCpeStatus(c);
  EXPECT_EQ(ui.OpStateText.Text(), "Locked");
  EXPECT_EQ(ui.RssiText.Text(), " 40");
  EXPECT_EQ(ui.SfdLossText.Text(), " 3");
  EXPECT_EQ(ui.Line1Hook.Text(), "OFF HOOK");
  EXPECT_EQ(ui.Line1Ring.Text(), "RING ON");
  EXPECT_EQ(s.CpeStatus[2].OpState, "Locked");

  ResetCpeStatus(c, 2);
  EXPECT_EQ(s.CpeStatus[2].OpState, "Acquisition");
  EXPECT_EQ(ui.OpStateText.Text(), "Locked");
  EXPECT_THROW(ResetCpeStatus(c, 4), ReplyError);
}

TEST_F(ConnectedConsoleTest, ClosingTheWindowClosesFilesAndPortStopsTimersAndSendsNothing) {
  int closes = 0;
  c.closeWindow = [&closes] { ++closes; };
  fake.files.OpenForAppend(fake.files.FreeFile(), "/tmp/log.txt");
  fake.files.disk["/tmp/prog.hex"].bytes = ":00000001FF\r\n";
  fake.files.OpenForRead(fake.files.FreeFile(), "/tmp/prog.hex");
  fake.downloadTimer.SetEnabled(true);
  const int closesBefore = fake.port.closes;

  ui.ExitButton.UserClick();
  UnloadMainWindow(c);  // the close box after Exit: unloads once

  EXPECT_EQ(fake.files.OpenCount(), 0);
  EXPECT_FALSE(fake.port.IsOpen());
  EXPECT_EQ(fake.port.closes - closesBefore, 1);
  EXPECT_FALSE(fake.transmitTimer.Enabled());
  EXPECT_FALSE(fake.downloadTimer.Enabled());
  EXPECT_TRUE(fake.port.writes.empty());
  EXPECT_EQ(closes, 1);
}

TEST_F(ConsoleTest, UnloadWithNoPortOpenDoesNotCloseIt) {
  Form_Load(c);
  Form_Unload(c);
  EXPECT_EQ(fake.port.closes, 0);
}

}  // namespace
}  // namespace velmora::testing
