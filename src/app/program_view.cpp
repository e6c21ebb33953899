// The four program views. Writes run change and click handlers at once, so the order of the
// steps decides the end state: keep it.
#include "app/program_view.h"

#include <initializer_list>
#include <tuple>
#include <utility>
#include <vector>

#include "app/console.h"
#include "app/lifecycle.h"

namespace velmora {

const char* ProgramTypeText(std::int32_t programType) {
  static constexpr const char* kTexts[] = {"UNKNOWN", "BOOT LOADER", "LINE CARD APP", "CPE APP"};
  return programType >= 0 && programType < 4 ? kTexts[programType] : "";
}

void ApplyProgramView(Console& c, const std::int32_t& programType) {
  if (programType < ProgramType::Unknown || programType > ProgramType::CpeApp) return;
  auto& ui = c.ui;
  auto& s = c.state;
  const bool unknown = programType == ProgramType::Unknown;
  const bool boot = programType == ProgramType::BootLoader;
  const bool app = !unknown && !boot;
  const bool lineCard = programType == ProgramType::LineCardApp;

  if (app) {
    // A newly detected application starts a poll schedule with its initial reads.
    s.PollTick = 1;
    s.PollStep = 0;
    s.InitialReadPending = true;
  }
  if (lineCard) {
    for (std::uint8_t cpe = 0; cpe < 4; ++cpe) ResetCpeStatus(c, cpe);
    ShowCpeStatus(c);
  }

  // Versions: shown for every recognised program; they keep what was read before.
  ui.SoftwareLabel.SetVisible(!unknown);
  for (TextBox* t : {&ui.BootLoaderText, &ui.ApplicationText}) {
    if (unknown) t->SetText("???");
    t->SetVisible(!unknown);
  }
  ui.FirmwareLabel.SetVisible(!unknown);
  if (unknown) ui.FirmwareText.SetText("???");
  ui.FirmwareText.SetVisible(!unknown);
  ui.DownloadButton.SetVisible(!unknown);

  // Radio settings, set by switches on the card.
  for (auto [label, field] : {std::pair{&ui.FrequencyLabel, &ui.FrequencyText},
                              std::pair{&ui.CdmaLabel, &ui.CdmaText},
                              std::pair{&ui.TimeSlotLabel, &ui.TimeSlotText}}) {
    label->SetVisible(app);
    if (unknown) field->SetText("??");
    field->SetVisible(app);
  }

  // EEPROM settings. Each update button ends disabled after its control was reset.
  ui.SfdLabel.SetVisible(app);
  if (app) ui.SfdText.SetText("");
  ui.SfdText.SetVisible(app);
  if (!boot) ui.SfdButton.SetEnabled(false);
  ui.SfdButton.SetVisible(app);
  if (!app) s.SfdWritePending = false;

  if (app) ui.GenericLabel.SetCaption(lineCard ? "Telephony:" : "Range:");
  ui.GenericLabel.SetVisible(app);
  if (app) {
    ui.GenericSelect.Clear();
    ui.GenericSelect.SetListIndex(-1);
    static const std::vector<const char*> kTelephony = {
        "T1 & 16 KHz Tone", "E1 & 16 KHz Tone", "T1 & 12 KHz Tone", "E1 & 12 KHz Tone"};
    static const std::vector<const char*> kRange = {"Less than 25 miles",
                                                    "Greater than 25 miles"};
    const auto& items = lineCard ? kTelephony : kRange;
    for (const char* item : items) ui.GenericSelect.AddItem(item);
  }
  ui.GenericSelect.SetVisible(app);
  if (app) {
    ui.GenericButton.SetCaption(lineCard ? "Update Telephony" : "Update Range");
    ui.GenericButton.SetEnabled(false);
  }
  ui.GenericButton.SetVisible(app);
  if (!app) s.GenericWritePending = false;

  ui.V35Label.SetVisible(app);
  ui.V35Select.SetVisible(app);
  if (app) ui.V35Select.SetListIndex(-1);
  if (app) ui.V35Button.SetEnabled(false);
  ui.V35Button.SetVisible(app);
  if (!app) s.V35WritePending = false;

  // Power and temperature.
  ui.BattVoltLabel.SetVisible(app);
  if (unknown) {
    ui.BattVoltText.SetText("??");
    ui.BattVoltText.SetBackColor(kRed);
  }
  ui.BattVoltText.SetVisible(app);
  ui.TemperatureLabel.SetVisible(app);
  if (unknown) ui.TemperatureText.SetText("");
  ui.TemperatureText.SetVisible(app);

  // Operational status.
  ui.OpStateLabel.SetVisible(app);
  if (!app) ui.OpStateText.SetText("Acquisition");
  ui.OpStateText.SetVisible(app);
  ui.CpeLabel.SetVisible(lineCard);
  if (unknown) {
    // SelectedCpe first, so that the list's click handler finds nothing to do.
    s.SelectedCpe = 0;
    ui.CpeSelect.SetListIndex(0);
  }
  ui.CpeSelect.SetVisible(lineCard);
  ui.RssiLabel.SetVisible(app);
  if (!app) ui.RssiText.SetText("0");
  ui.RssiText.SetVisible(app);
  ui.SfdLossLabel.SetVisible(app);
  if (!app) ui.SfdLossText.SetText("");
  ui.SfdLossText.SetVisible(app);
  for (auto [label, hook, ring] : {std::tuple{&ui.Line1Label, &ui.Line1Hook, &ui.Line1Ring},
                                   std::tuple{&ui.Line2Label, &ui.Line2Hook, &ui.Line2Ring}}) {
    label->SetVisible(app);
    if (!app) hook->SetText("ON HOOK");
    hook->SetVisible(app);
    if (!app) ring->SetText("RING OFF");
    ring->SetVisible(app);
  }

  // Command line: usable whenever a program is recognised.
  if (unknown) ui.CommandLineText.SetText("");
  ui.CommandLineText.SetLocked(unknown);
  ui.CommandLineButton.SetEnabled(!unknown);
  if (unknown) s.CommandLinePending = false;

  ui.ProgramText.SetText(ProgramTypeText(programType));
  ui.ProgramText.SetBackColor(unknown ? kRed : boot ? kYellow : kGreen);
}

}  // namespace velmora
