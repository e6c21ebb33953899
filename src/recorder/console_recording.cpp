#include "recorder/console_recording.h"

#include "app/console.h"
#include "serial/receive_path.h"

namespace velmora {

RecordingPort::RecordingPort(SerialPort& port, Recorder& recorder)
    : port_(port), recorder_(recorder) {
  port_.onComm = [this] {
    if (onComm) onComm();
  };
  port_.onLost = [this](const std::string& description) {
    recorder_.Add(RecordKind::Event, "port-lost", description);
    if (onLost) onLost(description);
  };
  port_.onOpenFailed = [this](const OpenFailure& failure) {
    recorder_.Add(RecordKind::Event, "port-open-failed", failure.description);
    if (onOpenFailed) onOpenFailed(failure);
  };
}

void RecordingPort::SetCommPort(int port) {
  port_.SetCommPort(port);
  recorder_.Add(RecordKind::Event, "port-chosen",
                "COM" + std::to_string(port) + " " + port_.DeviceName(port));
}

OpenFailure RecordingPort::Open() {
  OpenFailure failure = port_.Open();
  recorder_.Add(RecordKind::Event, failure ? "port-open-failed" : "port-opened",
                failure ? failure.description : port_.DeviceName(port_.CommPort()));
  return failure;
}

void RecordingPort::Close() {
  const bool wasOpen = port_.IsOpen();
  port_.Close();
  if (wasOpen) recorder_.Add(RecordKind::Event, "port-closed", {});
}

bool RecordingPort::Output(const std::string& bytes) {
  const bool queued = port_.Output(bytes);
  if (queued) recorder_.Add(RecordKind::Out, {}, bytes);
  return queued;
}

std::string RecordingPort::Input() {
  std::string bytes = port_.Input();
  if (!bytes.empty()) recorder_.Add(RecordKind::In, {}, bytes);
  return bytes;
}

void UseRecorder(Console& c, Recorder& recorder) {
  c.recorder = &recorder;
  c.boxes().onShown = [&recorder](const std::string& text) {
    recorder.Add(RecordKind::Event, "box", text);
  };
  c.ui.DownloadStatus.onChange = [&c] { RecordEvent(c, "download", c.ui.DownloadStatus.Text()); };
  // A recorder that cannot write says so once in the pane, not in a box: the console goes on.
  recorder.onStatus = [&c](const std::string& text) { AppendTerminal(c, "\r\n" + text + "\r\n"); };
}

void RecordEvent(Console& c, std::string_view name, std::string_view text) {
  if (c.recorder) c.recorder->Add(RecordKind::Event, name, text);
}

}  // namespace velmora
