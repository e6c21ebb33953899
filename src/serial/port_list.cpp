// Filling the port list and opening the port the engineer chooses.
#include "serial/port_list.h"

#include <string>

#include "app/console.h"
#include "app/messages.h"
#include "app/program_view.h"
#include "serial/port_table.h"
#include "serial/port_watch.h"

namespace velmora {

void ScanCommPorts(Console& c) {
  auto& list = c.ui.CommPortSelect;
  list.Clear();
  list.AddItem("DISCONNECT", 0);
  for (int port = 1; port <= kMaxPorts; ++port) {
    c.MSComm1.SetCommPort(port);
    const OpenFailure failure = c.MSComm1.Open();
    const bool open = c.MSComm1.IsOpen();
    if (open) c.MSComm1.Close();
    // A port another program holds is listed too: it may be free when chosen.
    if (open || failure.number == kCommErrorPortBusy)
      list.AddItem("COM" + std::to_string(port), port, c.MSComm1.DeviceName(port));
  }
  c.state.PortListIndex = list.ListIndex();
}

void CommPortSelect_Click(Console& c) {
  auto& s = c.state;
  auto& list = c.ui.CommPortSelect;
  const std::int16_t i = list.ListIndex();
  if (i == s.PortListIndex) return;
  if (c.MSComm1.IsOpen()) c.MSComm1.Close();
  s.ProgramType = ProgramType::Unknown;
  ApplyProgramView(c, s.ProgramType);
  s.RxBuffer.clear();
  if (i == 0) {
    s.PortListIndex = 0;
    return;
  }
  if (i < 0) return;
  const int port = list.ItemData(i);
  c.MSComm1.SetCommPort(port);
  const OpenFailure failure = c.MSComm1.Open();
  if (failure || !c.MSComm1.IsOpen()) {
    c.messages.Warning(PortOpenFailureText(port, c.MSComm1.DeviceName(port), failure));
    // PortListIndex first: the click that setting the index runs must find nothing to do.
    s.PortListIndex = 0;
    list.SetListIndex(0);
    return;
  }
  s.PortListIndex = i;
}

void PortOpenFailed(Console& c, int port, const OpenFailure& failure) {
  auto& s = c.state;
  auto& list = c.ui.CommPortSelect;
  // The engineer may have chosen again while the port was still opening.
  if (c.MSComm1.IsOpen() || s.PortListIndex <= 0 || s.PortListIndex >= list.ListCount() ||
      list.ItemData(s.PortListIndex) != port)
    return;
  // A reopening the console made by itself fails without a word, and waits again.
  if (ReconnectFailed(c, port)) return;
  // As an opening that fails at once: the box, then back to DISCONNECT.
  c.messages.Warning(PortOpenFailureText(port, c.MSComm1.DeviceName(port), failure));
  s.PortListIndex = 0;
  list.SetListIndex(0);
}

}  // namespace velmora
