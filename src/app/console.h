// The window's working state in one object: the console state, the window model and the
// platform it runs on. Handlers are free functions taking it; each lives with its subsystem.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/console_state.h"
#include "app/main_window.h"
#include "platform/dialogs.h"
#include "platform/event_pump.h"
#include "platform/files.h"
#include "platform/serial_port.h"
#include "platform/timer.h"
#include "recorder/pane_times.h"
#include "serial/port_watch.h"
#include "trends/trends.h"

namespace velmora {

class Recorder;

struct Platform {
  SerialPort& MSComm1;
  Timer& TransmitTimer;
  Timer& DownloadTimer;
  Files& files;
  FileChooser& Dialog;
  MessageBox& messages;
  EventPump& pump;
};

// The platform's message box, silenced while the console reopens a lost port by itself: a
// reopening that fails waits for the device's next return without a word.
class ConsoleMessages : public MessageBox {
 public:
  explicit ConsoleMessages(MessageBox& shown) : shown_(shown) {}
  void Warning(const std::string& text) override {
    if (quiet) return;
    if (onShown) onShown(text);
    shown_.Warning(text);
  }
  bool quiet = false;
  std::function<void(const std::string&)> onShown;

 private:
  MessageBox& shown_;
};

class Console {
 private:
  ConsoleMessages boxes_;

 public:
  explicit Console(Platform platform);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  ConsoleState state;
  MainWindow ui;

  SerialPort& MSComm1;
  Timer& TransmitTimer;
  Timer& DownloadTimer;
  Files& files;
  FileChooser& Dialog;
  MessageBox& messages;
  EventPump& pump;

  // Work that must run after the current call stack has unwound (a box about a lost port,
  // for instance). The pump runs it; nothing in the core runs it by itself.
  void Defer(std::function<void()> work);
  void RunDeferred();
  bool HasDeferred() const { return !deferred_.empty(); }

  // The program file chosen for the download under way, and a count of downloads started, so
  // that a handler resumed after pending events can tell whether its download still runs.
  ChosenFile programFile;
  unsigned downloadRun = 0;
  // The program file's bytes as checked, at most 16 MiB: what the card gets.
  std::string programBytes;

  // The file logging writes to, to name it when a write fails.
  std::string logFileName;

  // Commands sent from the command line in this run, oldest first, and where recall stands.
  std::vector<std::string> commandHistory;
  std::size_t historyPosition = 0;
  std::string historyDraft;

  // What the card reported over time (on the system clock unless given another).
  Trends trends;

  // Closes the window (set by whoever shows it); Form_Unload runs once either way.
  std::function<void()> closeWindow;
  bool unloaded = false;

  // Devices behind the port numbers, and a lost port waiting for its device.
  PortWatchState portWatch;
  ConsoleMessages& boxes() { return boxes_; }

  // The flight recorder, when the console records.
  Recorder* recorder = nullptr;
  // When each line of the Terminal pane arrived.
  PaneTimes paneTimes;

 private:
  std::deque<std::function<void()>> deferred_;
};

}  // namespace velmora
