// The download owns the port from start to end: no polling, port selection locked, received
// text to the boot loader handshake. Every way out goes through EndDownload, which puts the
// window back, lets go of the program and restarts the card.
#include "download/download.h"

#include <algorithm>

#include "app/console.h"
#include "app/messages.h"
#include "app/program_view.h"
#include "intel_hex/intel_hex.h"
#include "replies/numbers.h"
#include "scheduler/poll_cycle.h"
#include "trends/recording.h"

namespace velmora {

std::optional<std::string> ProgramFileFault(std::string_view text, std::int64_t length,
                                            const std::string& title) {
  if (length <= 0) return title + " is empty: there is no program to download.";
  if (length > intel_hex::kMaxFileBytes ||
      static_cast<std::int64_t>(text.size()) > intel_hex::kMaxFileBytes)
    return title + " is not a program file: it is larger than 16 MiB, more than any program.";
  const intel_hex::FileCheck check = intel_hex::CheckFile(text);
  if (!check.Ok()) return intel_hex::Describe(check, title);
  return std::nullopt;
}

namespace {

void SendReset(Console& c) {
  c.MSComm1.Output("\r\n");
  SendCommand(c, "reset");
}

void ShowProgress(Console& c, float value) {
  c.ui.DownloadProgress.SetValue(value);
}

// The block of the program from `at`, as much of it as remains: the card gets exactly the bytes
// that were checked, whatever has become of the file since.
void SendBlock(Console& c, std::size_t at) {
  const std::string& program = c.programBytes;
  const std::string block = program.substr(std::min(at, program.size()), kDownloadBlockSize);
  c.state.DownloadBlock.assign(block);
  if (!block.empty()) c.MSComm1.Output(block);
}

void StartFlashing(Console& c) {
  c.ui.DownloadStatus.SetText("Flashing " + c.programFile.fileTitle + " ...");
  ShowProgress(c, c.ui.DownloadProgress.Min());
  c.MSComm1.SetSThreshold(0);
  c.DownloadTimer.SetInterval(kFlashingTickMs);
  c.DownloadTimer.SetEnabled(true);
}

// Shows a time-out and ends the download, unless it ended while the box was shown.
void TimeOut(Console& c, const char* message) {
  const unsigned run = c.downloadRun;
  c.DownloadTimer.SetEnabled(false);  // no second expiry can show the box again
  c.messages.Warning(message);
  if (c.state.Downloading && c.downloadRun == run) EndDownload(c);
}

// The whole file, read once through the file layer; empty if it is empty or too large to be a
// program (then only its length is known).
std::string ReadProgramFile(Files& files, std::int16_t number, std::int64_t length) {
  std::string text;
  if (length <= 0 || length > intel_hex::kMaxFileBytes) return text;
  text.reserve(static_cast<std::size_t>(length));
  constexpr std::size_t kChunk = 1 << 20;
  for (std::string chunk; !(chunk = files.Read(number, kChunk)).empty();) {
    text += chunk;
    if (static_cast<std::int64_t>(text.size()) > intel_hex::kMaxFileBytes) break;
  }
  return text;
}

// A program file that cannot be read, holds nothing or is not a sound Intel HEX file is refused
// with one box, before the card is touched. A sound one's bytes go to `program`, to be sent.
bool CheckProgramFile(Console& c, const ChosenFile& file, std::string& program) {
  const std::int16_t number = c.files.FreeFile();
  if (const FileError error = c.files.OpenForRead(number, file.fileName)) {
    c.messages.Warning(ProgramFileFailureText(file.fileName, *error));
    return false;
  }
  const std::int64_t length = c.files.Length(number);
  std::string text = ReadProgramFile(c.files, number, length);
  c.files.Close(number);
  if (const auto fault = ProgramFileFault(text, length, file.fileTitle)) {
    c.messages.Warning(*fault);
    return false;
  }
  program = std::move(text);
  return true;
}

void StartDownload(Console& c) {
  auto& s = c.state;
  auto& ui = c.ui;
  OpenFileRequest request;
  request.title = "Select File to Download";
  request.filters = {{"Program File (*.hex)", "*.hex"}, {"All Files (*.*)", "*.*"}};
  request.filterIndex = 0;
  request.mustExist = true;
  const std::optional<ChosenFile> chosen = c.Dialog.ShowOpen(request);
  if (!chosen || s.Downloading) return;
  // A file that cannot be read, holds nothing or is not Intel HEX is refused before the card is
  // restarted.
  std::string program;
  if (!CheckProgramFile(c, *chosen, program) || s.Downloading) return;
  c.programFile = *chosen;
  c.programBytes = std::move(program);
  ++c.downloadRun;

  s.DownloadStage = 0;
  s.Downloading = true;
  c.TransmitTimer.SetEnabled(false);
  ui.CommPortSelect.SetLocked(true);
  s.DownloadFile = 0;
  s.DownloadSent = 0;
  s.DownloadLength = 0;
  s.ResponseLine.clear();
  s.ProgramType = ProgramType::BootLoader;
  ApplyProgramView(c, s.ProgramType);
  MarkTrend(c, Quantity::Download, 1);
  ui.OpConfig.SetVisible(false);
  ui.SoftwareConfig.SetHeight(2575);
  ui.DownloadStatus.SetGeometry({1680, 1920, 3375, ui.DownloadStatus.Geometry().height});
  ui.DownloadStatus.SetText("Rebooting Radio Card ...");
  ui.DownloadStatus.SetVisible(true);
  ui.DownloadProgress.SetGeometry({1200, 2400, 4335, ui.DownloadProgress.Geometry().height});
  ShowProgress(c, ui.DownloadProgress.Min());
  ui.DownloadProgress.SetVisible(true);
  SendReset(c);
  s.ResetRetries = 0;
  c.DownloadTimer.SetInterval(kResetWatchdogMs);
  c.DownloadTimer.SetEnabled(true);
  ui.DownloadButton.SetCaption("Abort Download");
}

void StartTransfer(Console& c) {
  auto& s = c.state;
  const unsigned run = c.downloadRun;
  c.DownloadTimer.SetEnabled(false);  // no time-out while sending
  s.ResponseLine.clear();
  s.DownloadStage = 2;
  c.ui.DownloadStatus.SetText("Sending " + c.programFile.fileTitle + " ...");
  c.pump.ProcessEvents();
  // An abort (or even a new download) may have been handled just now.
  if (!s.Downloading || c.downloadRun != run) return;

  // The file is not opened again: a build may have rewritten it since it was checked.
  s.DownloadLength = static_cast<std::int32_t>(c.programBytes.size());
  c.MSComm1.SetSThreshold(kDownloadSendThreshold);
  for (int i = 0; i < kDownloadBurstBlocks; ++i)
    SendBlock(c, static_cast<std::size_t>(i) * kDownloadBlockSize);
  s.DownloadSent = kDownloadBurstBlocks * static_cast<std::int32_t>(kDownloadBlockSize);
  if (s.DownloadLength > 0) {
    const float value = c.ui.DownloadProgress.Max() * static_cast<float>(s.DownloadSent) /
                        static_cast<float>(s.DownloadLength);
    ShowProgress(c, value);
  }
  // The burst already holds a short file whole; no send event would ever find more to send.
  if (s.DownloadSent >= s.DownloadLength) StartFlashing(c);
}

}  // namespace

void DownloadButton_Click(Console& c) {
  if (c.state.Downloading)
    EndDownload(c);
  else
    StartDownload(c);
}

void HandleBootLoaderReply(Console& c, const std::string& text) {
  auto& s = c.state;
  if (s.DownloadStage == 2) return;  // the transfer's echo is not examined nor kept
  s.ResponseLine += text;
  if (s.ResponseLine.find("Boot Loader Ready") != std::string::npos) {
    c.DownloadTimer.SetEnabled(false);
    c.DownloadTimer.SetInterval(kStopWatchdogMs);
    c.DownloadTimer.SetEnabled(true);
    s.ResponseLine.clear();
    s.DownloadStage = 1;
    SendCommand(c, "stop");
    return;
  }
  if (s.ResponseLine.find("Boot Loader Stopped") != std::string::npos) {
    StartTransfer(c);
    return;
  }
  // Only the end of what was received can still hold the start of a phrase.
  constexpr std::size_t kKeep = 4096;
  if (s.ResponseLine.size() > kKeep) s.ResponseLine.erase(0, s.ResponseLine.size() - kKeep);
}

void DownloadSendStep(Console& c) {
  auto& s = c.state;
  // Sending only: not while flashing, and never after an abort.
  if (!s.Downloading || s.DownloadStage != 2 || c.DownloadTimer.Enabled()) return;
  if (s.DownloadSent >= s.DownloadLength) return;
  SendBlock(c, static_cast<std::size_t>(s.DownloadSent));
  s.DownloadSent += static_cast<std::int32_t>(kDownloadBlockSize);
  const float max = c.ui.DownloadProgress.Max();
  const std::int32_t p =
      ToInt32(static_cast<double>(max) * s.DownloadSent / static_cast<double>(s.DownloadLength));
  ShowProgress(c, static_cast<float>(p) >= max ? max : static_cast<float>(p));
  if (s.DownloadSent >= s.DownloadLength) StartFlashing(c);
}

void DownloadTimer_Timer(Console& c) {
  auto& s = c.state;
  if (!s.Downloading) return;
  switch (s.DownloadStage) {
    case 0:
      if (s.ResetRetries != 1) {
        ++s.ResetRetries;
        s.ResponseLine.clear();
        SendReset(c);
      } else {
        TimeOut(c, "Boot Loader Not Detected");
      }
      break;
    case 1:
      TimeOut(c, "Boot Loader Unresponsive");
      break;
    case 2: {
      auto& bar = c.ui.DownloadProgress;
      ShowProgress(c, bar.Value() + kFlashingProgressStep);
      if (bar.Value() >= bar.Max()) EndDownload(c);
      break;
    }
    default:
      break;
  }
}

void EndDownload(Console& c) {
  auto& s = c.state;
  auto& ui = c.ui;
  c.DownloadTimer.SetEnabled(false);
  s.Downloading = false;
  c.MSComm1.SetSThreshold(0);
  c.programBytes = {};
  ui.DownloadStatus.SetVisible(false);
  ui.DownloadProgress.SetVisible(false);
  ui.OpConfig.SetVisible(true);
  ui.SoftwareConfig.SetHeight(1452);
  ui.DownloadButton.SetCaption("Program Download");
  s.ResponseLine.clear();
  s.ProgramType = ProgramType::Unknown;
  ApplyProgramView(c, s.ProgramType);
  MarkTrend(c, Quantity::Download, 0);
  SendReset(c);
  c.TransmitTimer.SetEnabled(true);
  ui.CommPortSelect.SetLocked(false);
}

void EndDownloadForLostPort(Console& c) {
  if (c.state.Downloading) EndDownload(c);
}

}  // namespace velmora
