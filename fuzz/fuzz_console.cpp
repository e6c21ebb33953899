// The console core on the fakes, driven by arbitrary input: received bytes (often real reply
// lines), poll ticks, download timer time, send events, the engineer's clicks and typing, a pulled
// cable, and events that run in the middle of a handler (pending window events, modal boxes).
// After every step the console's invariants are checked; a violation aborts with a message.
//
// The input is a sequence of steps, each chosen and parameterised by FuzzedDataProvider.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/lifecycle.h"
#include "console_input.h"
#include "download/download.h"
#include "replies/colouring.h"
#include "serial/receive_path.h"
#include "support/fakes.h"

namespace {

using namespace velmora;
using velmora::testing::FakeClock;
using velmora::testing::FakeEventPump;
using velmora::testing::FakeFileChooser;
using velmora::testing::FakeFiles;
using velmora::testing::FakeMessageBox;
using velmora::testing::FakeSerialPort;
using velmora::testing::FakeTimer;

std::string Printable(const std::string& text, std::size_t max = 120) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < max; ++i) {
    const unsigned char ch = static_cast<unsigned char>(text[i]);
    if (ch >= 0x20 && ch < 0x7F && ch != '\\') {
      out += static_cast<char>(ch);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", ch);
      out += hex;
    }
  }
  if (text.size() > max) out += "...(" + std::to_string(text.size()) + " chars)";
  return out;
}

// Reply markers and whole reply lines as the card sends them.
const char* const kMarkers[] = {
    "Boot Loader Initialized",
    "Line Card Application Initialized",
    "CPE Application Initialized",
    "Maximum CPU%",
    "cpe_reset #",
    "Stops Application",
    "    Version:  ",
    "op_status: ",
    "Subscriber 0",
    "Starting Ranging",
    "Ranging Completed Successfully",
    "Communications Lost",
    "Commanded Reset",
    "SFD Loss Count: ",
    "FF28: ",
    "FF12: ",
    "0000: ",
    "0004: ",
    "0005: ",
    "hook_state: ",
    "ring_state: ",
    "Channel ",
    "OFF HOOK",
    "ON HOOK",
    "RING ON",
    "RING OFF",
    "temperature: ",
    "Boot Loader Ready",
    "Boot Loader Stopped",
    "\r\n",
    "Starting Acquisition",
};
const char* const kLines[] = {
    "Boot Loader Initialized",
    "Boot Loader Ready",
    "Boot Loader Stopped",
    "Line Card Application Initialized",
    "CPE Application Initialized",
    "Maximum CPU% 27",
    "  cpe_reset #       Resets CPE # (0-3)",
    "  stop              Stops Application",
    "    Version:  Boot Loader 2.04",
    "    Version:  Line Card Application 4.17",
    "    Version:  CPE Application 4.17",
    "    Version:  Radio Modem Firmware 3.11",
    "op_status: 02",
    "op_status: 02010002",
    "Starting Ranging",
    "Ranging Completed Successfully",
    "Starting Acquisition",
    "Subscriber 01 Starting Ranging",
    "Subscriber 02 Ranging Completed Successfully",
    "Subscriber 03 Communications Lost",
    "Subscriber 00 Commanded Reset",
    "SFD Loss Count: 0003",
    "Subscriber 01 SFD Loss Count: 000B",
    "FF28: 1A 2B 3C 4D",
    "FF12: 2D 00 00 00 00 00 00 00",
    "0000: 1E",
    "0004: 43",
    "0005: 01",
    "hook_state: 0001",
    "hook_state: 0001010100000101",
    "ring_state: 0100",
    "ring_state: 0000010000000000",
    "Channel 01 OFF HOOK",
    "Channel 00 ON HOOK",
    "Channel 00 RING ON",
    "Channel 01 RING OFF",
    "Subscriber 02 Channel 01 RING ON",
    "Subscriber 03 Channel 00 OFF HOOK",
    "temperature: 001F",
    "temperature: FFF6",
    "Battery: 12.3 V",
    "Debug level 80",
};

// A serial port that also counts writes attempted while it is closed (the fake records none).
class CountingPort : public FakeSerialPort {
 public:
  bool Output(const std::string& bytes) override {
    if (!IsOpen()) {
      ++closedWrites;
      if (inPoll) ++closedPollWrites;
    }
    if (onAnyOutput) onAnyOutput(bytes);
    return FakeSerialPort::Output(bytes);
  }
  int closedWrites = 0;
  int closedPollWrites = 0;
  bool inPoll = false;
  std::function<void(const std::string&)> onAnyOutput;
};

// A file chooser is modal: timers and port events go on while it is shown.
class ModalChooser : public FakeFileChooser {
 public:
  std::optional<ChosenFile> ShowOpen(const OpenFileRequest& request) override {
    if (whileShown) whileShown();
    return FakeFileChooser::ShowOpen(request);
  }
  std::function<void()> whileShown;
};

using fuzz::Step;
using fuzz::TextKind;

class Harness {
 public:
  // The fakes of FakePlatform, with the port and the chooser above in place of theirs.
  CountingPort port;
  FakeClock clock;
  FakeTimer transmitTimer{&clock};
  FakeTimer downloadTimer{&clock};
  FakeFiles files;
  ModalChooser chooser;
  FakeMessageBox messages;
  FakeEventPump pump;
  Console c{Platform{port, transmitTimer, downloadTimer, files, chooser, messages, pump}};
  ConsoleState& s = c.state;
  MainWindow& ui = c.ui;

  explicit Harness(FuzzedDataProvider& in) : in_(in) {
    port.onAnyOutput = [this](const std::string& bytes) { Written(bytes); };
    port.onOutput = [this](const std::string& bytes) {
      // The fake records a write only while the port is open.
      if (!port.IsOpen()) Fail("a write was recorded on a closed port: " + Printable(bytes));
    };
    messages.whileShown = [this](const std::string&) { ModalEvent(); };
    chooser.whileShown = [this] { ModalEvent(); };
    c.closeWindow = [this] { windowClosed_ = true; };

    port.SetPort(1, FakeSerialPort::Availability::Free);
    port.SetPort(2, FakeSerialPort::Availability::Busy);
    files.disk["old.txt"].bytes = "kept\r\n";
    files.disk["readonly.txt"].readOnly = true;
    files.disk["locked.txt"].locked = true;
    files.disk["locked.hex"].locked = true;
    files.disk["locked.hex"].bytes = ":00000001FF\r\n";

    Form_Load(c);
    // The poll timer's writes are told apart, so a write to a closed port can be traced to it.
    auto poll = std::move(transmitTimer.onTimer);
    transmitTimer.onTimer = [this, poll] {
      port.inPoll = true;
      poll();
      port.inPoll = false;
    };
    ChoosePort(1);
    if (!port.IsOpen()) Fail("COM1 did not open");
    CheckInvariants("set-up");
  }

  void Run() {
    for (int n = 0; n < 600 && in_.remaining_bytes() > 0 && !c.unloaded; ++n) {
      const Step step = in_.ConsumeEnum<Step>();
      stepName_ = std::to_string(n) + " (" + fuzz::StepName(step) + ")";
      rxBefore_ = s.RxBuffer;
      splitFed_.clear();
      Do(step, 0);
      // Nothing armed for one step may fire in a later one by surprise.
      pump.pendingEvents = nullptr;
      if (trace_)
        std::fprintf(stderr,
                     "    -> %s%s%s, port %s, %zu bytes written, %d writes to a closed port\n",
                     ui.ProgramText.Text().c_str(), s.Downloading ? ", downloading stage " : "",
                     s.Downloading ? std::to_string(s.DownloadStage).c_str() : "",
                     port.IsOpen() ? "open" : "closed", port.Written().size(), port.closedWrites);
      CheckInvariants(stepName_);
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr,
                 "\nfuzz_console: invariant violated after step %s: %s\n"
                 "  ProgramType=%d Downloading=%d DownloadStage=%d LoggingActive=%d port %s\n",
                 stepName_.c_str(), what.c_str(), s.ProgramType, s.Downloading, s.DownloadStage,
                 s.LoggingActive, port.IsOpen() ? "open" : "closed");
    std::abort();
  }

  // -- steps ---------------------------------------------------------------------------------

  void Do(Step step, int depth) {
    if (trace_) std::fprintf(stderr, "%*s%s\n", 2 * depth + 2, "", fuzz::StepName(step));
    // Every parameter is read before the console's state is looked at (see console_input.h).
    switch (step) {
      case Step::FeedLines: {
        std::string chunk;
        const int lines = in_.ConsumeIntegralInRange(1, 4);
        for (int i = 0; i < lines; ++i) chunk += ReplyLine();
        Feed(chunk);
        break;
      }
      case Step::FeedRaw:
        Feed(in_.ConsumeRandomLengthString(6000));
        break;
      case Step::FeedRepeated: {
        const std::string piece =
            in_.ConsumeBool() ? ReplyLine() : in_.ConsumeRandomLengthString(40);
        const int times = in_.ConsumeIntegralInRange(1, 1200);
        std::string chunk;
        for (int i = 0; i < times && chunk.size() < 20000; ++i) chunk += piece;
        Feed(chunk);
        break;
      }
      case Step::FeedInPieces: {
        const std::string line = ReplyLine();
        std::size_t at = 0;
        while (at < line.size()) {
          const std::size_t n = in_.ConsumeIntegralInRange<std::size_t>(1, line.size() - at);
          Feed(line.substr(at, n));
          at += n;
        }
        break;
      }
      case Step::Tick:
        clock.Advance(100);
        break;
      case Step::Time:
        clock.Advance(in_.ConsumeIntegralInRange(0, 20000));
        break;
      case Step::Send:
        port.RaiseSend();
        break;
      case Step::ChooseCpe:
        Choose(ui.CpeSelect, in_.ConsumeIntegralInRange(-1, 4));
        break;
      case Step::ShowTab: {
        const int tab = in_.ConsumeIntegralInRange(0, 2);
        if (modal_ == 0) ui.GUI_Tabs.UserShowTab(tab);
        break;
      }
      case Step::TypeSfd:
        TypeSfd();
        break;
      case Step::EditSfd: {
        const std::string text = Text();
        if (Editable(ui.SfdText)) ui.SfdText.UserEdit(text);
        break;
      }
      case Step::PasteSfd: {
        const std::string text = Text();
        if (Editable(ui.SfdText)) ui.SfdText.UserPaste(text);
        break;
      }
      case Step::ClickSfd:
        Click(ui.SfdButton);
        break;
      case Step::ChooseGeneric:
        Choose(ui.GenericSelect, in_.ConsumeIntegralInRange(-1, 4));
        break;
      case Step::ClickGeneric:
        Click(ui.GenericButton);
        break;
      case Step::ChooseV35:
        Choose(ui.V35Select, in_.ConsumeIntegralInRange(-1, 3));
        break;
      case Step::ClickV35:
        Click(ui.V35Button);
        break;
      case Step::EditCommandLine: {
        const std::string text = Text();
        if (Editable(ui.CommandLineText)) ui.CommandLineText.UserEdit(text);
        break;
      }
      case Step::CommandLineKey: {
        const int k = in_.ConsumeIntegralInRange(0, 2);
        if (Shown(ui.CommandLineText))
          ui.CommandLineText.UserKeyDown(k == 0 ? Key::Enter : k == 1 ? Key::Up : Key::Down);
        break;
      }
      case Step::ClickCommandLine:
        Click(ui.CommandLineButton);
        break;
      case Step::ClickLogging:
        ClickLogging();
        break;
      case Step::LogDiskFull: {
        const bool full = in_.ConsumeBool();
        if (!logPath_.empty()) files.disk[logPath_].full = full;
        break;
      }
      case Step::StartDownload:
        StartDownload();
        break;
      case Step::ClickDownload:
        Click(ui.DownloadButton);
        break;
      case Step::ProgramFileGone:
        // The program file becomes unreadable between the choice and the transfer.
        if (!c.programFile.fileName.empty()) files.disk[c.programFile.fileName].locked = true;
        break;
      case Step::LosePort:
        port.Lose();
        break;
      case Step::LosePortAndRunDeferred:
        port.Lose();
        c.RunDeferred();
        break;
      case Step::ChoosePort:
        ChoosePort(in_.ConsumeIntegralInRange(0, 3));
        break;
      case Step::PortAvailability: {
        const int a = in_.ConsumeIntegralInRange(0, 2);
        const int n = in_.ConsumeIntegralInRange(1, 2);
        port.SetPort(n, a == 0   ? FakeSerialPort::Availability::Free
                        : a == 1 ? FakeSerialPort::Availability::Busy
                                 : FakeSerialPort::Availability::Missing);
        break;
      }
      case Step::RunDeferred:
        c.RunDeferred();
        break;
      case Step::PendingThenSend:
        if (depth < 3) pump.pendingEvents = [this, depth] { Nested(depth + 1); };
        port.RaiseSend();
        pump.pendingEvents = nullptr;
        break;
      case Step::PendingThenStopped:
        if (depth < 3) pump.pendingEvents = [this, depth] { Nested(depth + 1); };
        Feed("Boot Loader Stopped\r\n");
        pump.pendingEvents = nullptr;
        break;
      case Step::ArmModalEvents: {
        const int n = in_.ConsumeIntegralInRange(0, 3);
        modalArmed_ = depth < 3 ? n : 0;
        modalDepth_ = depth;
        break;
      }
      case Step::Exit:
        Click(ui.ExitButton);
        if (c.unloaded && depth > 0) unloadedInsideHandler_ = true;
        break;
    }
  }

  // What runs in the middle of a handler: pending window events (any step, clicks too) or,
  // behind a modal box or chooser, the timers and the port (no click reaches the window then).
  void Nested(int depth) { Do(in_.ConsumeEnum<Step>(), depth); }
  void ModalEvent() {
    if (modalArmed_ == 0) return;
    --modalArmed_;
    ++modal_;
    Nested(modalDepth_ + 1);
    --modal_;
  }

  std::string ReplyLine() {
    std::string line;
    switch (in_.ConsumeIntegralInRange(0, 3)) {
      case 0:
      case 1:
        line = kLines[in_.ConsumeIntegralInRange<std::size_t>(0, std::size(kLines) - 1)];
        break;
      case 2:
        line = kMarkers[in_.ConsumeIntegralInRange<std::size_t>(0, std::size(kMarkers) - 1)];
        line += in_.ConsumeRandomLengthString(24);
        break;
      default:
        line = in_.ConsumeRandomLengthString(24);
        line += kMarkers[in_.ConsumeIntegralInRange<std::size_t>(0, std::size(kMarkers) - 1)];
        line += in_.ConsumeRandomLengthString(24);
        break;
    }
    if (in_.ConsumeIntegralInRange(0, 7) != 0) line += "\r\n";
    return line;
  }
  std::string Text() {
    switch (static_cast<TextKind>(in_.ConsumeIntegralInRange(0, 2))) {
      case TextKind::Short:
        return in_.ConsumeRandomLengthString(16);
      case TextKind::Long:
        return in_.ConsumeRandomLengthString(2000);
      case TextKind::Repeated:
        break;
    }
    const std::string piece = in_.ConsumeRandomLengthString(8);
    const int times = in_.ConsumeIntegralInRange(1, 1000);
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
  }

  // -- what the engineer can reach -----------------------------------------------------------

  // A control a person can reach: no modal box is up, it and every container up to the window
  // are visible, and a tab page is the one in front.
  bool Shown(const Control& control) const {
    if (modal_ > 0) return false;
    const Control* k = &control;
    for (int guard = 0; guard < 8; ++guard) {
      if (!k->Visible()) return false;
      const std::string& in = k->Container();
      if (in.empty()) return true;
      if (in.rfind("GUI_Tabs:", 0) == 0) {
        if (ui.GUI_Tabs.Tab() != std::stoi(in.substr(9))) return false;
        k = &ui.GUI_Tabs;
        continue;
      }
      k = ui.Find(in);
      if (!k) return false;
    }
    return false;
  }
  bool Editable(const TextBox& box) const { return Shown(box) && !box.Locked(); }
  void Click(CommandButton& b) {
    if (Shown(b)) b.UserClick();
  }
  void Choose(ComboBox& box, int i) {
    if (Shown(box)) box.UserChoose(static_cast<std::int16_t>(i));
  }
  void ChoosePort(int i) { Choose(ui.CommPortSelect, i); }

  void TypeSfd() {
    std::vector<std::int16_t> keys(static_cast<std::size_t>(in_.ConsumeIntegralInRange(1, 8)));
    for (auto& code : keys) {
      switch (in_.ConsumeIntegralInRange(0, 3)) {
        case 0:
        case 1:
          code = static_cast<std::int16_t>('0' + in_.ConsumeIntegralInRange(0, 9));
          break;
        case 2:
          code = 8;  // backspace
          break;
        default:
          code = in_.ConsumeIntegral<std::int16_t>();
          break;
      }
    }
    for (std::int16_t code : keys) {
      // A person typing: the key filter sees each character, the field takes those it keeps.
      if (!Editable(ui.SfdText) || !ui.SfdText.UserKeyPress(code)) continue;
      std::string text = ui.SfdText.Text();
      if (code == 8) {
        if (!text.empty()) text.pop_back();
      } else {
        text += static_cast<char>(code);
      }
      ui.SfdText.UserEdit(text);
    }
  }

  void ClickLogging() {
    static const char* const kPaths[] = {"log.txt", "old.txt", "full.txt", "readonly.txt",
                                         "locked.txt"};
    const int kind = in_.ConsumeIntegralInRange(0, 4);
    const std::string path = kPaths[in_.ConsumeIntegralInRange<std::size_t>(0, 4)];
    if (!Shown(ui.LoggingButton)) return;
    std::optional<ChosenFile> answer;
    if (kind != 0) {
      if (path == "full.txt") files.disk[path].full = true;
      answer = ChosenFile{path, path};
    }
    chooser.answers.assign(1, answer);
    const bool wasLogging = s.LoggingActive;
    ui.LoggingButton.UserClick();
    chooser.answers.clear();
    if (!wasLogging && s.LoggingActive && answer) {
      logPath_ = answer->fileName;
      if (!expectedLog_.count(logPath_)) expectedLog_[logPath_] = files.disk[logPath_].bytes;
    }
  }

  void StartDownload() {
    const int kind = in_.ConsumeIntegralInRange(0, 5);
    const std::size_t length = in_.ConsumeIntegralInRange<std::size_t>(0, 12000);
    if (!Shown(ui.DownloadButton) || s.Downloading) return;
    std::optional<ChosenFile> answer;
    switch (kind) {
      case 0:
        break;  // cancelled
      case 1:
        answer = ChosenFile{"missing.hex", "missing.hex"};
        break;
      case 2:
        answer = ChosenFile{"locked.hex", "locked.hex"};
        break;
      default: {
        // A new file for each download, so that what was sent can be checked against it.
        const std::string name = "prog" + std::to_string(++programFiles_) + ".hex";
        std::string bytes(length, '\0');
        for (std::size_t i = 0; i < length; ++i)
          bytes[i] = "0123456789ABCDEF:\r\n"[(i * 7 + i / 19) % 19];
        files.disk[name].bytes = std::move(bytes);
        answer = ChosenFile{name, name};
        break;
      }
    }
    chooser.answers.assign(1, answer);
    ui.DownloadButton.UserClick();
    chooser.answers.clear();
  }

  // -- what the card sends, and what the console writes --------------------------------------

  void Feed(const std::string& bytes) {
    if (port.IsOpen()) {
      terminal_ += bytes;
      if (terminal_.size() > kTerminalCapacity)
        terminal_.erase(0, terminal_.size() - kTerminalCapacity);
      if (!s.Downloading) splitFed_ += bytes;
      if (s.LoggingActive && !bytes.empty() && !files.disk[logPath_].full)
        expectedLog_[logPath_] += bytes;
    }
    port.Feed(bytes);
  }

  void Written(const std::string& bytes) {
    // During the transfer every write is a piece of the program file.
    if (c.downloadRun != sentRun_) {
      sentRun_ = c.downloadRun;
      sent_.clear();
    }
    if (s.Downloading && s.DownloadStage == 2) sent_ += bytes;
  }

  // -- invariants ----------------------------------------------------------------------------

  static bool IsNumberText(const std::string& t, long long low, long long high) {
    if (t.size() < 2 || (t[0] != ' ' && t[0] != '-') || t.size() > 12) return false;
    for (std::size_t i = 1; i < t.size(); ++i)
      if (t[i] < '0' || t[i] > '9') return false;
    if (t.size() > 2 && t[1] == '0') return false;
    const long long v = std::stoll(t.substr(1)) * (t[0] == '-' ? -1 : 1);
    if (t[0] == '-' && v == 0) return false;
    return v >= low && v <= high;
  }
  static bool AllDigits(const std::string& t, std::size_t from = 0) {
    for (std::size_t i = from; i < t.size(); ++i)
      if (t[i] < '0' || t[i] > '9') return false;
    return true;
  }
  static bool OneOf(const std::string& t, std::initializer_list<const char*> texts) {
    for (const char* x : texts)
      if (t == x) return true;
    return false;
  }
  void Field(const TextBox& box, bool ok) {
    if (!ok) Fail(box.Name() + " holds \"" + Printable(box.Text()) + "\"");
  }
  // The colour follows the text: running the change handler again changes nothing.
  void Colour(TextBox& box, void (*change)(Console&)) {
    const Color before = box.BackColor();
    change(c);
    if (box.BackColor() != before)
      Fail(box.Name() + " \"" + Printable(box.Text()) + "\" has a colour its text does not give");
  }

  void CheckInvariants(const std::string& where) {
    stepName_ = where;
    if (c.unloaded) {
      CheckUnloaded();
      return;
    }

    // Receive path: the unfinished line only, never more than its bound; a tail of what came.
    if (s.RxBuffer.size() > kMaxUnterminatedLine)
      Fail("RxBuffer holds " + std::to_string(s.RxBuffer.size()) + " characters");
    if (s.RxBuffer.find("\r\n") != std::string::npos)
      Fail("RxBuffer still holds a whole line: " + Printable(s.RxBuffer));
    const std::string stream = rxBefore_ + splitFed_;
    if (s.RxBuffer.size() > stream.size() ||
        stream.compare(stream.size() - s.RxBuffer.size(), s.RxBuffer.size(), s.RxBuffer) != 0)
      Fail("RxBuffer is not the end of what was received: " + Printable(s.RxBuffer));
    // The pane shows exactly the newest received characters.
    if (ui.TerminalText.Text().size() > kTerminalCapacity)
      Fail("the terminal pane holds " + std::to_string(ui.TerminalText.Text().size()));
    if (ui.TerminalText.Text() != terminal_)
      Fail("the terminal pane is not the end of what was received");

    // Field texts are only what a parser, a view or the engineer may write.
    Field(ui.OpStateText, OneOf(ui.OpStateText.Text(), {"Acquisition", "Ranging", "Locked", "??"}));
    const std::string& rssi = ui.RssiText.Text();
    Field(ui.RssiText, IsNumberText(rssi, 0, 255) || rssi == "0" || rssi == "??");
    const std::string& temperature = ui.TemperatureText.Text();
    Field(ui.TemperatureText,
          IsNumberText(temperature, -32768, 32767) || temperature.empty() || temperature == "??");
    const std::string& sfdLoss = ui.SfdLossText.Text();
    Field(ui.SfdLossText,
          IsNumberText(sfdLoss, -32768, 32767) || sfdLoss.empty() || sfdLoss == "??");
    for (const TextBox* hook : {&ui.Line1Hook, &ui.Line2Hook})
      Field(*hook, OneOf(hook->Text(), {"ON HOOK", "OFF HOOK", ""}));
    for (const TextBox* ring : {&ui.Line1Ring, &ui.Line2Ring})
      Field(*ring, OneOf(ring->Text(), {"RING ON", "RING OFF", ""}));
    for (const TextBox* radio : {&ui.FrequencyText, &ui.CdmaText, &ui.TimeSlotText})
      Field(*radio, OneOf(radio->Text(), {" 0", " 1", " 2", " 3", "??", ""}));
    const std::string& sfd = ui.SfdText.Text();
    Field(ui.SfdText, AllDigits(sfd) || (sfd.size() > 1 && sfd[0] == '-' && AllDigits(sfd, 1) &&
                                         sfd.size() <= 11));
    Field(ui.BattVoltText, OneOf(ui.BattVoltText.Text(), {"", "??"}));
    static const char* const kProgramNames[] = {"UNKNOWN", "BOOT LOADER", "LINE CARD APP",
                                                "CPE APP"};
    if (s.ProgramType < 0 || s.ProgramType > 3)
      Fail("ProgramType is " + std::to_string(s.ProgramType));
    if (ui.ProgramText.Text() != kProgramNames[s.ProgramType])
      Fail("ProgramText says \"" + ui.ProgramText.Text() + "\" for program type " +
           std::to_string(s.ProgramType));
    Colour(ui.OpStateText, OpStateText_Change);
    Colour(ui.RssiText, RssiText_Change);
    Colour(ui.SfdLossText, SfdLossText_Change);
    Colour(ui.TemperatureText, TemperatureText_Change);
    if (s.SelectedCpe > 3) Fail("SelectedCpe is " + std::to_string(s.SelectedCpe));

    // The view matches the program type.
    const bool app = s.ProgramType >= ProgramType::LineCardApp;
    if (ui.DownloadButton.Visible() != (s.ProgramType != ProgramType::Unknown))
      Fail("DownloadButton shown in the wrong view");
    if (ui.CommandLineText.Locked() != (s.ProgramType == ProgramType::Unknown))
      Fail("CommandLineText locked in the wrong view");
    if (ui.SfdText.Visible() != app) Fail("SfdText shown in the wrong view");
    if (ui.CpeSelect.Visible() != (s.ProgramType == ProgramType::LineCardApp))
      Fail("CpeSelect shown in the wrong view");
    if (!app && (s.SfdWritePending || s.GenericWritePending || s.V35WritePending))
      Fail("an EEPROM write is queued outside an application");
    if (s.ProgramType == ProgramType::Unknown && s.CommandLinePending)
      Fail("a command line is queued while the program is unknown");

    // Port and port list.
    if (s.PortListIndex != ui.CommPortSelect.ListIndex())
      Fail("PortListIndex " + std::to_string(s.PortListIndex) + " but the list shows " +
           std::to_string(ui.CommPortSelect.ListIndex()));
    if (port.IsOpen() && s.PortListIndex <= 0) Fail("a port is open while DISCONNECT is chosen");
    if (port.closedPollWrites != 0) Fail("the poll cycle wrote to a closed port");

    // Files: the log file while logging, the program file only while it is being sent.
    if (!s.Downloading && s.DownloadFile != 0) Fail("DownloadFile stays set after the download");
    const int logFiles = s.LoggingActive ? 1 : 0;
    const int programFiles = s.DownloadFile != 0 ? 1 : 0;
    if (files.OpenCount() != logFiles + programFiles)
      Fail(std::to_string(files.OpenCount()) + " files open, expected " +
           std::to_string(logFiles + programFiles));
    if (s.LoggingActive != (ui.LoggingButton.Caption() == "Stop Logging"))
      Fail("LoggingButton caption \"" + ui.LoggingButton.Caption() + "\"");
    // The log holds exactly what was received while logging was on.
    for (const auto& [path, bytes] : expectedLog_)
      if (files.disk[path].bytes != bytes)
        Fail("log file " + path + " holds " + std::to_string(files.disk[path].bytes.size()) +
             " bytes, expected " + std::to_string(bytes.size()));

    // Download layout and timers.
    const bool dl = s.Downloading;
    if (ui.DownloadStatus.Visible() != dl) Fail("DownloadStatus visibility");
    if (ui.DownloadProgress.Visible() != dl) Fail("DownloadProgress visibility");
    if (ui.OpConfig.Visible() == dl) Fail("OpConfig visibility");
    if (ui.CommPortSelect.Locked() != dl) Fail("CommPortSelect lock");
    if (transmitTimer.Enabled() == dl) Fail("TransmitTimer enabled while downloading, or stopped");
    if (downloadTimer.Enabled() && !dl) Fail("DownloadTimer runs with no download");
    if (ui.DownloadButton.Caption() != (dl ? "Abort Download" : "Program Download"))
      Fail("DownloadButton caption \"" + ui.DownloadButton.Caption() + "\"");
    if (dl) {
      if (s.ProgramType != ProgramType::BootLoader) Fail("a download outside the boot loader view");
      if (s.DownloadStage < 0 || s.DownloadStage > 2) Fail("DownloadStage out of range");
      if (s.DownloadStage < 2 && !downloadTimer.Enabled()) Fail("handshake without a watchdog");
      if (s.ResponseLine.size() > 4096)
        Fail("the handshake keeps " + std::to_string(s.ResponseLine.size()) + " characters");
      if (s.DownloadStage == 2 && s.DownloadFile == 0) Fail("sending without a program file");
      const float p = ui.DownloadProgress.Value();
      if (!(p >= 0 && p <= 100)) Fail("progress out of range");
      // What went to the port is the start of the file, and all of it once flashing began.
      if (s.DownloadStage == 2) {
        const std::string& file = files.disk[c.programFile.fileName].bytes;
        if (sent_.size() > file.size() || file.compare(0, sent_.size(), sent_) != 0)
          Fail("the port got bytes that are not the program file's, in order");
        if (downloadTimer.Enabled() && sent_ != file)
          Fail("flashing began after " + std::to_string(sent_.size()) + " of " +
               std::to_string(file.size()) + " bytes");
      }
    }
  }

  void CheckUnloaded() {
    if (!windowClosed_) Fail("unloaded without closing the window");
    if (port.IsOpen()) Fail("the port stays open after the window was unloaded");
    // Unloaded from pending events in the middle of a handler (the download's handshake or send
    // step), that handler still finishes, and may open the program file or start the download
    // timer again; the program ends right afterwards, which closes and stops everything.
    if (unloadedInsideHandler_) return;
    if (files.OpenCount() != 0) Fail("files stay open after the window was unloaded");
    if (transmitTimer.Enabled() || downloadTimer.Enabled())
      Fail("a timer runs after the window was unloaded");
  }

  FuzzedDataProvider& in_;
  std::string stepName_ = "set-up";
  std::string rxBefore_;
  std::string splitFed_;
  std::string terminal_;
  std::string logPath_;
  std::map<std::string, std::string> expectedLog_;
  std::string sent_;
  unsigned sentRun_ = 0;
  int programFiles_ = 0;
  int modalArmed_ = 0;
  int modalDepth_ = 0;
  int modal_ = 0;  // modal boxes up
  bool windowClosed_ = false;
  bool unloadedInsideHandler_ = false;
  // VELMORA_FUZZ_TRACE=1 lists the steps as they run, for reading a crashing input.
  const bool trace_ = std::getenv("VELMORA_FUZZ_TRACE") != nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Harness harness(in);
  harness.Run();
  return 0;
}
