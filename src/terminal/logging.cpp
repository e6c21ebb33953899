// The log file holds exactly the bytes the card sent while logging was on, nothing the console
// sent; every start appends to what the file already holds.
#include "terminal/logging.h"

#include "app/console.h"
#include "app/messages.h"
#include "scheduler/poll_cycle.h"

namespace velmora {
namespace {

// The card's debug level follows logging, except during a download: the port carries the
// program file then, and a command in its middle would corrupt what the card flashes.
void SendDebugLevel(Console& c, const char* command) {
  if (!c.state.Downloading) SendCommand(c, command);
}

void StopLogging(Console& c) {
  auto& s = c.state;
  // Off first, so that nothing is written to a closed handle.
  s.LoggingActive = false;
  c.files.Close(s.LogFileNumber);
  s.LogFileNumber = 0;
  c.ui.LoggingButton.SetCaption("Activate Logging");
  SendDebugLevel(c, "debug 0");
}

void StartLogging(Console& c) {
  auto& s = c.state;
  OpenFileRequest request;
  request.title = "Select Logging File";
  request.filters = {{"Text File (*.txt)", "*.txt"}, {"All Files (*.*)", "*.*"}};
  request.mustExist = false;
  request.refuseReadOnly = true;
  request.acceptText = "Write to File";
  request.prompt = "Log to file:";
  const std::optional<ChosenFile> chosen = c.Dialog.ShowOpen(request);
  if (!chosen || s.LoggingActive) return;
  s.LogFileNumber = c.files.FreeFile();
  if (const FileError error = c.files.OpenForAppend(s.LogFileNumber, chosen->fileName)) {
    c.messages.Warning(LogFileFailureText(chosen->fileName, *error));
    c.files.Close(s.LogFileNumber);
    s.LogFileNumber = 0;
    return;
  }
  c.logFileName = chosen->fileName;
  SendDebugLevel(c, "debug 80");
  c.ui.LoggingButton.SetCaption("Stop Logging");
  s.LoggingActive = true;
}

}  // namespace

void LoggingButton_Click(Console& c) {
  if (c.state.LoggingActive)
    StopLogging(c);
  else
    StartLogging(c);
}

void WriteLog(Console& c, const std::string& received) {
  if (received.empty()) return;
  const FileError error = c.files.Write(c.state.LogFileNumber, received);
  if (!error) return;
  // A log that silently stops growing would be trusted wrongly: stop, and say why.
  StopLogging(c);
  c.Defer([&c, text = LogWriteFailureText(c.logFileName, *error)] { c.messages.Warning(text); });
}

}  // namespace velmora
