// The designed state of every control of GUI_Main.
#include "app/main_window.h"

namespace velmora {
namespace {

constexpr const char* kConfigTab = "GUI_Tabs:0";
constexpr const char* kStatusTab = "GUI_Tabs:1";
constexpr const char* kTerminalTab = "GUI_Tabs:2";
constexpr const char* kRotaryTip = "Value defined by Rotary Switch";
constexpr const char* kDipTip = "Value defined by DIP Switch";
constexpr const char* kEepromTip = "Value stored in EEPROM";
constexpr const char* kStoreTip = "Store new value to EEPROM";

TextBox::Style ReadOnlyGrey() { return {.locked = true, .backColor = kSystemDisplayGrey}; }
TextBox::Style ReadOnly() { return {.locked = true}; }

std::vector<ComboBox::Item> Items(std::initializer_list<const char*> texts) {
  std::vector<ComboBox::Item> items;
  for (const char* t : texts) items.push_back({t, 0, {}});
  return items;
}

template <class C>
C& Tip(C& c, const char* tip) {
  c.SetToolTip(tip);
  return c;
}

}  // namespace

MainWindow::MainWindow()
    : GUI_Tabs("GUI_Tabs", "", {120, 120, 6735, 4095},
               {"Configuration", "Status", "Terminal", "Trends"}),
      CommPortLabel("CommPortLabel", "", {120, 4440, 1692, 252}, "Comm Port Selection:"),
      CommPortSelect("CommPortSelect", "", {1800, 4440, 1692, 288},
                     Items({"COM1", "COM2", "COM3", "COM4"})),
      ProgramLabel("ProgramLabel", "", {120, 4920, 1692, 252}, "Active Program:"),
      ProgramText("ProgramText", "", {1800, 4920, 1692, 288}, "", ReadOnly()),
      ExitButton("ExitButton", "", {4680, 4560, 1092, 492}, "Exit"),

      SoftwareConfig("SoftwareConfig", kConfigTab, {240, 360, 6252, 1452},
                     "Software and Firmware Versions"),
      OpConfig("OpConfig", kConfigTab, {240, 1920, 6252, 2052}, "Operational Configuration"),
      DownloadStatus("DownloadStatus", kConfigTab, {5760, 1200, 495, 285}, "",
                     {.locked = true, .centred = true, .backColor = kSystemDisplayGrey}),
      DownloadProgress("DownloadProgress", kConfigTab, {5760, 1560, 495, 375}),
      SoftwareLabel("SoftwareLabel", "SoftwareConfig", {120, 360, 1452, 252}, "Software Versions:"),
      BootLoaderText("BootLoaderText", "SoftwareConfig", {1800, 360, 1812, 288}, "",
                     ReadOnlyGrey()),
      ApplicationText("ApplicationText", "SoftwareConfig", {3960, 360, 1812, 288}, "",
                      ReadOnlyGrey()),
      FirmwareLabel("FirmwareLabel", "SoftwareConfig", {120, 840, 1452, 252}, "Firmware Version:"),
      FirmwareText("FirmwareText", "SoftwareConfig", {1800, 840, 1812, 288}, "", ReadOnlyGrey()),
      DownloadButton("DownloadButton", "SoftwareConfig", {4320, 840, 1092, 492},
                     "Program Download"),
      FrequencyLabel("FrequencyLabel", "OpConfig", {120, 360, 1092, 252}, "RF Channel:"),
      FrequencyText("FrequencyText", "OpConfig", {1080, 360, 492, 288}, "", ReadOnlyGrey()),
      CdmaLabel("CdmaLabel", "OpConfig", {2040, 360, 1092, 252}, "CDMA Code:"),
      CdmaText("CdmaText", "OpConfig", {3120, 360, 492, 288}, "", ReadOnlyGrey()),
      TimeSlotLabel("TimeSlotLabel", "OpConfig", {4080, 360, 972, 252}, "Time Slot:"),
      TimeSlotText("TimeSlotText", "OpConfig", {4920, 360, 492, 288}, "", ReadOnlyGrey()),
      SfdLabel("SfdLabel", "OpConfig", {120, 960, 972, 252}, "SFD:"),
      SfdText("SfdText", "OpConfig", {600, 960, 732, 288}, "", {}),
      SfdButton("SfdButton", "OpConfig", {1560, 840, 1092, 492}, "Update SFD"),
      V35Label("V35Label", "OpConfig", {3360, 960, 852, 252}, "V35:"),
      V35Select("V35Select", "OpConfig", {3840, 960, 1812, 315},
                Items({"DISABLE", "CHANNEL 1", "CHANNEL 2"})),
      V35Button("V35Button", "OpConfig", {5040, 1440, 1092, 492}, "Update V35"),
      GenericLabel("GenericLabel", "OpConfig", {120, 1560, 1332, 252}, "Generic:"),
      GenericSelect("GenericSelect", "OpConfig", {1080, 1560, 1932, 315},
                    Items({"Less than 25 miles", "Greater than 25 miles"})),
      GenericButton("GenericButton", "OpConfig", {3120, 1440, 1092, 492}, "Update Generic"),

      RemoteStatus("RemoteStatus", kStatusTab, {240, 1200, 6252, 2652}, "Operational Status"),
      LocalStatus("LocalStatus", kStatusTab, {240, 360, 6252, 732}, "Power and Temperature Status"),
      OpStateLabel("OpStateLabel", "RemoteStatus", {120, 360, 1332, 252}, "Operational State:"),
      // The designed texts of the four coloured fields differ from what the Unknown view
      // writes, so that its writes colour them before the window is first shown.
      OpStateText("OpStateText", "RemoteStatus", {1560, 360, 1092, 288}, "??", ReadOnly()),
      CpeLabel("CpeLabel", "RemoteStatus", {3000, 360, 1212, 252}, "CPE Selection:"),
      CpeSelect("CpeSelect", "RemoteStatus", {4320, 360, 1572, 315},
                Items({"CPE 0", "CPE 1", "CPE 2", "CPE 3"})),
      RssiLabel("RssiLabel", "RemoteStatus", {120, 960, 1212, 252}, "Signal Strength:"),
      RssiText("RssiText", "RemoteStatus", {1560, 960, 1092, 288}, "??", ReadOnly()),
      SfdLossLabel("SfdLossLabel", "RemoteStatus", {3000, 960, 1332, 252}, "SFD Losses:"),
      SfdLossText("SfdLossText", "RemoteStatus", {4320, 960, 1572, 288}, "??", ReadOnly()),
      Line1Label("Line1Label", "RemoteStatus", {120, 1560, 1212, 252}, "Line 1 States:"),
      Line1Hook("Line1Hook", "RemoteStatus", {1560, 1560, 1092, 288}, "", ReadOnlyGrey()),
      Line1Ring("Line1Ring", "RemoteStatus", {3000, 1560, 1092, 288}, "", ReadOnlyGrey()),
      Line2Label("Line2Label", "RemoteStatus", {120, 2160, 1212, 252}, "Line 2 States:"),
      Line2Hook("Line2Hook", "RemoteStatus", {1560, 2160, 1092, 288}, "", ReadOnlyGrey()),
      Line2Ring("Line2Ring", "RemoteStatus", {3000, 2160, 1092, 288}, "", ReadOnlyGrey()),
      BattVoltLabel("BattVoltLabel", "LocalStatus", {120, 360, 1212, 252}, "Battery Voltage:"),
      BattVoltText("BattVoltText", "LocalStatus", {1560, 360, 852, 288}, "", ReadOnly()),
      TemperatureLabel("TemperatureLabel", "LocalStatus", {2880, 360, 1332, 252},
                       "Temperature (C):"),
      TemperatureText("TemperatureText", "LocalStatus", {4320, 360, 852, 288}, "??", ReadOnly()),

      TerminalText("TerminalText", kTerminalTab, {120, 360, 6492, 3012}, "",
                   {.locked = true, .multiLine = true, .fixedFont = true}),
      CommandLineLabel("CommandLineLabel", kTerminalTab, {120, 3600, 1575, 255}, "Command Line:"),
      CommandLineText("CommandLineText", kTerminalTab, {1320, 3600, 2412, 330}, "",
                      {.fixedFont = true}),
      CommandLineButton("CommandLineButton", kTerminalTab, {3960, 3480, 1092, 492},
                        "Send Command"),
      LoggingButton("LoggingButton", kTerminalTab, {5400, 3480, 1092, 492}, "Activate Logging") {
  DownloadStatus.SetVisible(false);
  DownloadProgress.SetVisible(false);
  SfdButton.SetEnabled(false);
  V35Button.SetEnabled(false);
  GenericButton.SetEnabled(false);

  Tip(FrequencyLabel, kRotaryTip);
  Tip(FrequencyText, kRotaryTip);
  Tip(CdmaLabel, kRotaryTip);
  Tip(CdmaText, kRotaryTip);
  Tip(TimeSlotLabel, kDipTip);
  Tip(TimeSlotText, kDipTip);
  Tip(SfdLabel, kEepromTip);
  Tip(SfdText, kEepromTip);
  Tip(SfdButton, "Store new SFD to EEPROM");
  Tip(V35Label, kEepromTip);
  Tip(V35Select, kEepromTip);
  Tip(V35Button, kStoreTip);
  Tip(GenericLabel, kEepromTip);
  Tip(GenericSelect, kEepromTip);
  Tip(GenericButton, kStoreTip);

  controls_ = {&GUI_Tabs,        &CommPortLabel,   &CommPortSelect,   &ProgramLabel,
               &ProgramText,     &ExitButton,      &SoftwareConfig,   &OpConfig,
               &DownloadStatus,  &DownloadProgress, &SoftwareLabel,   &BootLoaderText,
               &ApplicationText, &FirmwareLabel,   &FirmwareText,     &DownloadButton,
               &FrequencyLabel,  &FrequencyText,   &CdmaLabel,        &CdmaText,
               &TimeSlotLabel,   &TimeSlotText,    &SfdLabel,         &SfdText,
               &SfdButton,       &V35Label,        &V35Select,        &V35Button,
               &GenericLabel,    &GenericSelect,   &GenericButton,    &RemoteStatus,
               &LocalStatus,     &OpStateLabel,    &OpStateText,      &CpeLabel,
               &CpeSelect,       &RssiLabel,       &RssiText,         &SfdLossLabel,
               &SfdLossText,     &Line1Label,      &Line1Hook,        &Line1Ring,
               &Line2Label,      &Line2Hook,       &Line2Ring,        &BattVoltLabel,
               &BattVoltText,    &TemperatureLabel, &TemperatureText, &TerminalText,
               &CommandLineLabel, &CommandLineText, &CommandLineButton, &LoggingButton};
}

Control* MainWindow::Find(const std::string& name) const {
  for (Control* c : controls_)
    if (c->Name() == name) return c;
  return nullptr;
}

}  // namespace velmora
