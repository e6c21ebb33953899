// Start-up, shut-down and the per-CPE status records.
#include "app/lifecycle.h"

#include "app/console.h"
#include "app/program_view.h"
#include "replies/numbers.h"
#include "serial/port_list.h"

namespace velmora {

void Form_Load(Console& c) {
  auto& s = c.state;
  for (std::uint8_t cpe = 0; cpe < 4; ++cpe) ResetCpeStatus(c, cpe);
  s.ProgramType = ProgramType::Unknown;
  ApplyProgramView(c, s.ProgramType);
  ScanCommPorts(c);
  s.PollTick = 0;
  s.TerminalDebugOffSent = false;
  c.TransmitTimer.SetEnabled(true);
  s.RxBuffer.clear();
  s.Downloading = false;
  s.LoggingActive = false;
}

void Form_Unload(Console& c) {
  // The log file and a program file being downloaded; the handles are left as they are.
  c.files.CloseAll();
  if (c.MSComm1.IsOpen()) c.MSComm1.Close();
  c.TransmitTimer.SetEnabled(false);
  c.DownloadTimer.SetEnabled(false);
}

void UnloadMainWindow(Console& c) {
  if (c.unloaded) return;
  c.unloaded = true;
  Form_Unload(c);
  if (c.closeWindow) c.closeWindow();
}

void ExitButton_Click(Console& c) { UnloadMainWindow(c); }

void ResetCpeStatus(Console& c, const std::uint8_t& cpe) {
  if (cpe > 3) throw ReplyError("Subscript out of range");
  c.state.CpeStatus[cpe] = CpeStatusRecord{};
}

void ShowCpeStatus(Console& c) {
  const CpeStatusRecord& r = c.state.CpeStatus.at(c.state.SelectedCpe);
  auto& ui = c.ui;
  ui.RssiText.SetText(r.Rssi);
  ui.SfdLossText.SetText(r.SfdLoss);
  ui.OpStateText.SetText(r.OpState);
  ui.Line1Hook.SetText(r.Lines[0].Hook);
  ui.Line1Ring.SetText(r.Lines[0].Ring);
  ui.Line2Hook.SetText(r.Lines[1].Hook);
  ui.Line2Ring.SetText(r.Lines[1].Ring);
}

}  // namespace velmora
