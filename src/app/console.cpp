// Construction of the console and the wiring of every control and port event to its handler.
#include "app/console.h"

#include "app/lifecycle.h"
#include "download/download.h"
#include "replies/colouring.h"
#include "scheduler/poll_cycle.h"
#include "scheduler/settings_edits.h"
#include "serial/port_list.h"
#include "serial/port_watch.h"
#include "serial/receive_path.h"
#include "terminal/command_line.h"
#include "terminal/logging.h"

namespace velmora {

Console::Console(Platform p)
    : boxes_(p.messages),
      MSComm1(p.MSComm1),
      TransmitTimer(p.TransmitTimer),
      DownloadTimer(p.DownloadTimer),
      files(p.files),
      Dialog(p.Dialog),
      messages(boxes_),
      pump(p.pump) {
  // Both timers are created disabled; the poll timer's interval is fixed.
  TransmitTimer.SetEnabled(false);
  TransmitTimer.SetInterval(100);
  DownloadTimer.SetEnabled(false);
  DownloadTimer.SetInterval(0);

  MSComm1.onComm = [this] { MSComm1_OnComm(*this); };
  MSComm1.onLost = [this](const std::string& description) {
    Defer([this, description] { PortLost(*this, description); });
  };
  MSComm1.onOpenFailed = [this](const OpenFailure& failure) {
    Defer([this, failure, port = MSComm1.CommPort()] { PortOpenFailed(*this, port, failure); });
  };
  TransmitTimer.onTimer = [this] { TransmitTimer_Timer(*this); };
  DownloadTimer.onTimer = [this] { DownloadTimer_Timer(*this); };

  ui.ExitButton.onClick = [this] { ExitButton_Click(*this); };
  ui.CommPortSelect.onClick = [this] {
    CommPortSelect_Click(*this);
    PortChosen(*this);
  };

  ui.OpStateText.onChange = [this] { OpStateText_Change(*this); };
  ui.RssiText.onChange = [this] { RssiText_Change(*this); };
  ui.SfdLossText.onChange = [this] { SfdLossText_Change(*this); };
  ui.TemperatureText.onChange = [this] { TemperatureText_Change(*this); };

  ui.SfdText.onKeyPress = [this](std::int16_t& key) { SfdText_KeyPress(*this, key); };
  ui.SfdText.onUserText = SfdText_UserText;
  ui.SfdText.onChange = [this] { SfdText_Change(*this); };
  ui.SfdButton.onClick = [this] { SfdButton_Click(*this); };
  ui.GenericSelect.onClick = [this] { GenericSelect_Click(*this); };
  ui.GenericButton.onClick = [this] { GenericButton_Click(*this); };
  ui.V35Select.onClick = [this] { V35Select_Click(*this); };
  ui.V35Button.onClick = [this] { V35Button_Click(*this); };
  ui.CpeSelect.onClick = [this] { CpeSelect_Click(*this); };

  ui.DownloadButton.onClick = [this] { DownloadButton_Click(*this); };
  ui.CommandLineButton.onClick = [this] { CommandLineButton_Click(*this); };
  ui.CommandLineText.onKeyDown = [this](Key key) { return CommandLineText_KeyDown(*this, key); };
  ui.LoggingButton.onClick = [this] { LoggingButton_Click(*this); };
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
