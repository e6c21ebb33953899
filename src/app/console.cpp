// Construction of the console and the wiring of every control and port event to its handler.
#include "app/console.h"

#include "app/lifecycle.h"
#include "serial/port_list.h"

namespace velmora {

Console::Console(Platform p)
    : MSComm1(p.MSComm1),
      TransmitTimer(p.TransmitTimer),
      DownloadTimer(p.DownloadTimer),
      files(p.files),
      Dialog(p.Dialog),
      messages(p.messages),
      pump(p.pump) {
  // Both timers are created disabled; the poll timer's interval is fixed.
  TransmitTimer.SetEnabled(false);
  TransmitTimer.SetInterval(100);
  DownloadTimer.SetEnabled(false);
  DownloadTimer.SetInterval(0);

  ui.ExitButton.onClick = [this] { ExitButton_Click(*this); };
  ui.CommPortSelect.onClick = [this] { CommPortSelect_Click(*this); };
}

void Console::Defer(std::function<void()> work) {
  deferred_.push_back(std::move(work));
  pump.ScheduleDeferred();
}

void Console::RunDeferred() {
  // Only what was queued before this call: work queued while running waits for the next run.
  auto batch = std::move(deferred_);
  deferred_.clear();
  for (auto& work : batch) work();
}

}  // namespace velmora
