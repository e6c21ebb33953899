// The window GUI_Main as a view model: every control under its name, in its designed state.
#pragma once

#include <string>
#include <vector>

#include "platform/controls.h"

namespace velmora {

constexpr const char* kWindowCaption = "Velmora 1.09";
constexpr const char* kApplicationTitle = "Velmora";
constexpr int kClientWidthTwips = 7005;
constexpr int kClientHeightTwips = 5355;

// Containers: "" is the window, "GUI_Tabs:N" the N-th tab page, otherwise a frame's name.
struct MainWindow {
  MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Top level
  TabControl GUI_Tabs;
  Label CommPortLabel;
  ComboBox CommPortSelect;
  Label ProgramLabel;
  TextBox ProgramText;
  CommandButton ExitButton;

  // Tab "Configuration"
  Frame SoftwareConfig;
  Frame OpConfig;
  TextBox DownloadStatus;
  ProgressBar DownloadProgress;
  Label SoftwareLabel;
  TextBox BootLoaderText;
  TextBox ApplicationText;
  Label FirmwareLabel;
  TextBox FirmwareText;
  CommandButton DownloadButton;
  Label FrequencyLabel;
  TextBox FrequencyText;
  Label CdmaLabel;
  TextBox CdmaText;
  Label TimeSlotLabel;
  TextBox TimeSlotText;
  Label SfdLabel;
  TextBox SfdText;
  CommandButton SfdButton;
  Label V35Label;
  ComboBox V35Select;
  CommandButton V35Button;
  Label GenericLabel;
  ComboBox GenericSelect;
  CommandButton GenericButton;

  // Tab "Status"
  Frame RemoteStatus;
  Frame LocalStatus;
  Label OpStateLabel;
  TextBox OpStateText;
  Label CpeLabel;
  ComboBox CpeSelect;
  Label RssiLabel;
  TextBox RssiText;
  Label SfdLossLabel;
  TextBox SfdLossText;
  Label Line1Label;
  TextBox Line1Hook;
  TextBox Line1Ring;
  Label Line2Label;
  TextBox Line2Hook;
  TextBox Line2Ring;
  Label BattVoltLabel;
  TextBox BattVoltText;
  Label TemperatureLabel;
  TextBox TemperatureText;

  // Tab "Terminal"
  TextBox TerminalText;
  Label CommandLineLabel;
  TextBox CommandLineText;
  CommandButton CommandLineButton;
  CommandButton LoggingButton;

  // Every control, containers before their members.
  const std::vector<Control*>& Controls() const { return controls_; }
  Control* Find(const std::string& name) const;

 private:
  std::vector<Control*> controls_;
};

}  // namespace velmora
