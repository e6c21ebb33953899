// The console core on the fakes, driven by arbitrary input: received bytes (often real reply
// lines), poll ticks, download timer time, send events, the engineer's clicks and typing, a pulled
// cable, and events that run in the middle of a handler (pending window events, modal boxes).
// After every step the console's invariants are checked; a violation aborts with a message.
//
// The input is a sequence of steps read with FuzzedDataProvider: every number (the step itself
// and its parameters) comes from the end of the input, every text from the front. Each step reads
// the same parameters whatever the console's state, so the committed seeds keep their meaning:
// never reorder the steps or their parameters.
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
#include "replies/colouring.h"
#include "serial/receive_path.h"
#include "support/fakes.h"

namespace {

using namespace velmora;
using namespace velmora::testing;

// The steps, and the parameters each reads in this order (In(a..b) a number, Text see Text()):
//   FeedLines In(1..4) reply lines (see ReplyLine()); FeedRaw String(6000) bytes as received;
//   FeedRepeated Bool, then a reply line or String(40), In(1..1200) times; FeedInPieces a reply
//   line, then In(1..rest) for each piece; Tick 100 ms; Time In(0..20000) ms; Send a send event;
//   ChooseCpe In(-1..4); ShowTab In(0..2); TypeSfd In(1..8) keys, each In(0..3) kind and its
//   code; EditSfd, PasteSfd Text; ChooseGeneric In(-1..4); ChooseV35 In(-1..3); EditCommandLine
//   Text; CommandLineKey In(0..2) Enter, Up, Down; ClickLogging In(0..4) answer (0 cancels),
//   In(0..4) which log file; LogDiskFull Bool; StartDownload In(0..5) answer (0 cancels,
//   1 missing, 2 locked, else new), In(0..12000) length; ChoosePort In(0..3); PortAvailability
//   In(0..2) free, busy, missing, In(1..2) port; PendingThenSend a send event during which one
//   nested step runs as pending events; PendingThenStopped "Boot Loader Stopped" received, the
//   same; ArmModalEvents In(0..3) nested steps to run behind the next modal boxes.
// clang-format off
#define VELMORA_FUZZ_STEPS(X)                                                                   \
  X(FeedLines) X(FeedRaw) X(FeedRepeated) X(FeedInPieces) X(Tick) X(Time) X(Send) X(ChooseCpe)   \
  X(ShowTab) X(TypeSfd) X(EditSfd) X(PasteSfd) X(ClickSfd) X(ChooseGeneric) X(ClickGeneric)      \
  X(ChooseV35) X(ClickV35) X(EditCommandLine) X(CommandLineKey) X(ClickCommandLine)             \
  X(ClickLogging) X(LogDiskFull) X(StartDownload) X(ClickDownload) X(ProgramFileGone)           \
  X(LosePort) X(LosePortAndRunDeferred) X(ChoosePort) X(PortAvailability) X(RunDeferred)        \
  X(PendingThenSend) X(PendingThenStopped) X(ArmModalEvents) X(Exit)
// clang-format on
#define VELMORA_ENUM(name) name,
#define VELMORA_NAME(name) #name,
enum class Step : std::uint8_t { VELMORA_FUZZ_STEPS(VELMORA_ENUM) kMaxValue = Exit };
const char* const kStepNames[] = {VELMORA_FUZZ_STEPS(VELMORA_NAME)};

std::string Printable(const std::string& text, std::size_t max = 120) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < max; ++i) {
    const unsigned char ch = static_cast<unsigned char>(text[i]);
    char hex[8];
    std::snprintf(hex, sizeof hex, ch >= 0x20 && ch < 0x7F && ch != '\\' ? "%c" : "\\x%02X", ch);
    out += hex;
  }
  return text.size() > max ? out + "...(" + std::to_string(text.size()) + " chars)" : out;
}

// Reply markers and whole reply lines as the card sends them.
const char* const kMarkers[] = {"Boot Loader Initialized",
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
                                "Starting Acquisition"};
const char* const kLines[] = {"Boot Loader Initialized",
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
                              "Debug level 80"};

class Harness {
 public:
  FakePlatform fake;
  Console c{fake.platform()};
  ConsoleState& s = c.state;
  MainWindow& ui = c.ui;

  explicit Harness(FuzzedDataProvider& in) : in_(in) {
    fake.port.onOutput = [this](const std::string& bytes) { Written(bytes); };
    fake.messages.whileShown = [this](const std::string&) { ModalEvent(); };
    fake.chooser.whileShown = [this] { ModalEvent(); };
    c.closeWindow = [this] { windowClosed_ = true; };
    fake.port.SetPort(1, FakeSerialPort::Availability::Free);
    fake.port.SetPort(2, FakeSerialPort::Availability::Busy);
    fake.files.disk["old.txt"].bytes = "kept\r\n";
    fake.files.disk["readonly.txt"].readOnly = true;
    fake.files.disk["locked.txt"].locked = true;
    fake.files.disk["locked.hex"] = {IntelHex(100), false, true};
    Form_Load(c);
    // The poll timer's writes are told apart, so a write to a closed port can be traced to it.
    fake.transmitTimer.onTimer = [this, poll = std::move(fake.transmitTimer.onTimer)] {
      const int closedWrites = fake.port.closedWrites;
      poll();
      if (fake.port.closedWrites != closedWrites) Fail("the poll cycle wrote to a closed port");
    };
    Choose(ui.CommPortSelect, 1);
    if (!fake.port.IsOpen()) Fail("COM1 did not open");
    CheckInvariants();
  }

  void Run() {
    for (int n = 0; n < 600 && in_.remaining_bytes() > 0 && !c.unloaded; ++n) {
      const Step step = in_.ConsumeEnum<Step>();
      stepName_ = std::to_string(n) + " (" + kStepNames[static_cast<int>(step)] + ")";
      rxBefore_ = s.RxBuffer;
      splitFed_.clear();
      Do(step, 0);
      fake.pump.pendingEvents = nullptr;  // nothing armed for one step fires in a later one
      CheckInvariants();
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr,
                 "\nfuzz_console: invariant violated after step %s: %s\n"
                 "  ProgramType=%d Downloading=%d DownloadStage=%d LoggingActive=%d port %s\n",
                 stepName_.c_str(), what.c_str(), s.ProgramType, s.Downloading, s.DownloadStage,
                 s.LoggingActive, fake.port.IsOpen() ? "open" : "closed");
    std::abort();
  }

  // Every parameter is read before the console's state is looked at.
  void Do(Step step, int depth) {
    if (trace_)
      std::fprintf(stderr, "%*s%s\n", 2 * depth + 2, "", kStepNames[static_cast<int>(step)]);
    // clang-format off
    switch (step) {
      case Step::FeedLines: {
        std::string chunk;
        for (int i = in_.ConsumeIntegralInRange(1, 4); i > 0; --i) chunk += ReplyLine();
        return Feed(chunk);
      }
      case Step::FeedRaw: return Feed(in_.ConsumeRandomLengthString(6000));
      case Step::FeedRepeated: {
        const std::string piece =
            in_.ConsumeBool() ? ReplyLine() : in_.ConsumeRandomLengthString(40);
        const int times = in_.ConsumeIntegralInRange(1, 1200);
        std::string chunk;
        for (int i = 0; i < times && chunk.size() < 20000; ++i) chunk += piece;
        return Feed(chunk);
      }
      case Step::FeedInPieces: {
        const std::string line = ReplyLine();
        for (std::size_t at = 0, n = 0; at < line.size(); at += n) {
          n = in_.ConsumeIntegralInRange<std::size_t>(1, line.size() - at);
          Feed(line.substr(at, n));
        }
        return;
      }
      case Step::Tick: return fake.clock.Advance(100);
      case Step::Time: return fake.clock.Advance(in_.ConsumeIntegralInRange(0, 20000));
      case Step::Send: return fake.port.RaiseSend();
      case Step::ChooseCpe: return Choose(ui.CpeSelect, in_.ConsumeIntegralInRange(-1, 4));
      case Step::ShowTab: {
        const int tab = in_.ConsumeIntegralInRange(0, 2);
        if (modal_ == 0) ui.GUI_Tabs.UserShowTab(tab);
        return;
      }
      case Step::TypeSfd: return TypeSfd();
      case Step::EditSfd:
      case Step::PasteSfd: {
        const std::string text = Text();
        if (!Editable(ui.SfdText)) return;
        return step == Step::EditSfd ? ui.SfdText.UserEdit(text) : ui.SfdText.UserPaste(text);
      }
      case Step::ClickSfd: return Click(ui.SfdButton);
      case Step::ChooseGeneric: return Choose(ui.GenericSelect, in_.ConsumeIntegralInRange(-1, 4));
      case Step::ClickGeneric: return Click(ui.GenericButton);
      case Step::ChooseV35: return Choose(ui.V35Select, in_.ConsumeIntegralInRange(-1, 3));
      case Step::ClickV35: return Click(ui.V35Button);
      case Step::EditCommandLine: {
        const std::string text = Text();
        if (Editable(ui.CommandLineText)) ui.CommandLineText.UserEdit(text);
        return;
      }
      case Step::CommandLineKey: {
        const int k = in_.ConsumeIntegralInRange(0, 2);
        if (Shown(ui.CommandLineText))
          ui.CommandLineText.UserKeyDown(k == 0 ? Key::Enter : k == 1 ? Key::Up : Key::Down);
        return;
      }
      case Step::ClickCommandLine: return Click(ui.CommandLineButton);
      case Step::ClickLogging: return ClickLogging();
      case Step::LogDiskFull: {
        const bool full = in_.ConsumeBool();
        if (!logPath_.empty()) fake.files.disk[logPath_].full = full;
        return;
      }
      case Step::StartDownload: return StartDownload();
      case Step::ClickDownload: return Click(ui.DownloadButton);
      case Step::ProgramFileGone:
        // The program file becomes unreadable between the choice and the transfer.
        if (!c.programFile.fileName.empty()) fake.files.disk[c.programFile.fileName].locked = true;
        return;
      case Step::LosePort: return fake.port.Lose();
      case Step::LosePortAndRunDeferred:
        fake.port.Lose();
        return c.RunDeferred();
      case Step::ChoosePort: return Choose(ui.CommPortSelect, in_.ConsumeIntegralInRange(0, 3));
      case Step::PortAvailability: {
        const int a = in_.ConsumeIntegralInRange(0, 2);
        const int n = in_.ConsumeIntegralInRange(1, 2);
        return fake.port.SetPort(n, static_cast<FakeSerialPort::Availability>((a + 1) % 3));
      }
      case Step::RunDeferred: return c.RunDeferred();
      case Step::PendingThenSend:
      case Step::PendingThenStopped:
        if (depth < 3)
          fake.pump.pendingEvents = [this, depth] { Do(in_.ConsumeEnum<Step>(), depth + 1); };
        if (step == Step::PendingThenSend)
          fake.port.RaiseSend();
        else
          Feed("Boot Loader Stopped\r\n");
        fake.pump.pendingEvents = nullptr;
        return;
      case Step::ArmModalEvents: {
        const int n = in_.ConsumeIntegralInRange(0, 3);
        modalArmed_ = depth < 3 ? n : 0;
        modalDepth_ = depth;
        return;
      }
      case Step::Exit:
        Click(ui.ExitButton);
        if (c.unloaded && depth > 0) unloadedInsideHandler_ = true;
        return;
    }
    // clang-format on
  }

  // Behind a modal box or chooser, the timers and the port go on (no click reaches the window).
  void ModalEvent() {
    if (modalArmed_ == 0) return;
    --modalArmed_;
    ++modal_;
    Do(in_.ConsumeEnum<Step>(), modalDepth_ + 1);
    --modal_;
  }

  std::string ReplyLine() {
    const auto marker = [this] {
      return std::string(
          kMarkers[in_.ConsumeIntegralInRange<std::size_t>(0, std::size(kMarkers) - 1)]);
    };
    std::string line;
    switch (in_.ConsumeIntegralInRange(0, 3)) {
      case 0:
      case 1:
        line = kLines[in_.ConsumeIntegralInRange<std::size_t>(0, std::size(kLines) - 1)];
        break;
      case 2:
        line = marker();
        line += in_.ConsumeRandomLengthString(24);
        break;
      default:
        line = in_.ConsumeRandomLengthString(24);
        line += marker();
        line += in_.ConsumeRandomLengthString(24);
    }
    return in_.ConsumeIntegralInRange(0, 7) != 0 ? line + "\r\n" : line;
  }
  // In(0..2) kind; 0: String(16), 1: String(2000), 2: String(8) repeated In(1..1000) times.
  std::string Text() {
    const int kind = in_.ConsumeIntegralInRange(0, 2);
    if (kind < 2) return in_.ConsumeRandomLengthString(kind == 0 ? 16 : 2000);
    const std::string piece = in_.ConsumeRandomLengthString(8);
    std::string text;
    for (int i = in_.ConsumeIntegralInRange(1, 1000); i > 0; --i) text += piece;
    return text;
  }

  // A control a person can reach: no modal box is up, it and every container up to the window
  // are visible, and a tab page is the one in front.
  bool Shown(const Control& control) const {
    const Control* k = &control;
    for (int guard = 0; modal_ == 0 && k && guard < 8; ++guard) {
      if (!k->Visible()) return false;
      const std::string& in = k->Container();
      if (in.empty()) return true;
      if (in.rfind("GUI_Tabs:", 0) == 0 && ui.GUI_Tabs.Tab() != std::stoi(in.substr(9)))
        return false;
      k = in.rfind("GUI_Tabs:", 0) == 0 ? &ui.GUI_Tabs : ui.Find(in);
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

  void TypeSfd() {
    std::vector<std::int16_t> keys(static_cast<std::size_t>(in_.ConsumeIntegralInRange(1, 8)));
    for (auto& code : keys) {
      const int kind = in_.ConsumeIntegralInRange(0, 3);
      code = kind < 2    ? static_cast<std::int16_t>('0' + in_.ConsumeIntegralInRange(0, 9))
             : kind == 2 ? 8  // backspace
                         : in_.ConsumeIntegral<std::int16_t>();
    }
    for (std::int16_t code : keys) {
      // A person typing: the key filter sees each character, the field takes those it keeps.
      if (!Editable(ui.SfdText) || !ui.SfdText.UserKeyPress(code)) continue;
      std::string text = ui.SfdText.Text();
      if (code != 8)
        text += static_cast<char>(code);
      else if (!text.empty())
        text.pop_back();
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
      if (path == "full.txt") fake.files.disk[path].full = true;
      answer = ChosenFile{path, path};
    }
    fake.chooser.answers.assign(1, answer);
    const bool wasLogging = s.LoggingActive;
    ui.LoggingButton.UserClick();
    fake.chooser.answers.clear();
    if (!wasLogging && s.LoggingActive && answer) {
      logPath_ = answer->fileName;
      if (!expectedLog_.count(logPath_)) expectedLog_[logPath_] = fake.files.disk[logPath_].bytes;
    }
  }

  void StartDownload() {
    const int kind = in_.ConsumeIntegralInRange(0, 5);
    const std::size_t length = in_.ConsumeIntegralInRange<std::size_t>(0, 12000);
    if (!Shown(ui.DownloadButton) || s.Downloading) return;
    std::optional<ChosenFile> answer;
    if (kind == 1 || kind == 2) {
      answer = ChosenFile{kind == 1 ? "missing.hex" : "locked.hex", "x.hex"};
    } else if (kind > 2) {
      // A new valid program for each download, so that what was sent can be checked against it.
      const std::string name = "prog" + std::to_string(++programFiles_) + ".hex";
      fake.files.disk[name].bytes = length == 0 ? std::string() : IntelHex(length);
      answer = ChosenFile{name, name};
    }
    fake.chooser.answers.assign(1, answer);
    ui.DownloadButton.UserClick();
    fake.chooser.answers.clear();
  }

  void Feed(const std::string& bytes) {
    if (fake.port.IsOpen()) {
      terminal_ += bytes;
      if (terminal_.size() > kTerminalCapacity)
        terminal_.erase(0, terminal_.size() - kTerminalCapacity);
      if (!s.Downloading) splitFed_ += bytes;
      if (s.LoggingActive && !bytes.empty() && !fake.files.disk[logPath_].full)
        expectedLog_[logPath_] += bytes;
    }
    fake.port.Feed(bytes);
  }

  // During the transfer every write is a piece of the program file.
  void Written(const std::string& bytes) {
    if (!fake.port.IsOpen()) Fail("a write was recorded on a closed port: " + Printable(bytes));
    if (c.downloadRun != sentRun_) sentRun_ = c.downloadRun, sent_.clear();
    if (s.Downloading && s.DownloadStage == 2) sent_ += bytes;
  }

  // -- invariants ----------------------------------------------------------------------------

  static bool IsNumberText(const std::string& t, long long low, long long high) {
    if (t.size() < 2 || t.size() > 12 || (t[0] != ' ' && t[0] != '-') ||
        (t.size() > 2 && t[1] == '0'))
      return false;
    if (t.find_first_not_of("0123456789", 1) != std::string::npos) return false;
    const long long v = std::stoll(t.substr(1)) * (t[0] == '-' ? -1 : 1);
    return !(t[0] == '-' && v == 0) && v >= low && v <= high;
  }
  static bool OneOf(const std::string& t, std::initializer_list<const char*> texts) {
    for (const char* x : texts)
      if (t == x) return true;
    return false;
  }
  void Expect(bool ok, const std::string& what) {
    if (!ok) Fail(what);
  }
  void Field(const TextBox& box, bool ok) {
    Expect(ok, box.Name() + " holds \"" + Printable(box.Text()) + "\"");
  }
  // The colour follows the text: running the change handler again changes nothing.
  void Colour(TextBox& box, void (*change)(Console&)) {
    const Color before = box.BackColor();
    change(c);
    Expect(box.BackColor() == before,
           box.Name() + " \"" + Printable(box.Text()) + "\" has a colour its text does not give");
  }

  void CheckInvariants() {
    if (c.unloaded) return CheckUnloaded();
    // Receive path: the unfinished line only, within its bound, the end of what came.
    const std::string stream = rxBefore_ + splitFed_;
    const std::string& rx = s.RxBuffer;
    Expect(rx.size() <= kMaxUnterminatedLine,
           "RxBuffer holds " + std::to_string(rx.size()) + " characters");
    Expect(rx.find("\r\n") == std::string::npos,
           "RxBuffer still holds a whole line: " + Printable(rx));
    Expect(
        rx.size() <= stream.size() && stream.compare(stream.size() - rx.size(), rx.size(), rx) == 0,
        "RxBuffer is not the end of what was received: " + Printable(rx));
    // The pane shows exactly the newest received characters.
    Expect(ui.TerminalText.Text() == terminal_,
           "the terminal pane is not the end of what was received");

    // Field texts are only what a parser, a view or the engineer may write.
    Field(ui.OpStateText, OneOf(ui.OpStateText.Text(), {"Acquisition", "Ranging", "Locked", "??"}));
    const std::string &rssi = ui.RssiText.Text(), &temperature = ui.TemperatureText.Text(),
                      &sfdLoss = ui.SfdLossText.Text(), &sfd = ui.SfdText.Text();
    Field(ui.RssiText, IsNumberText(rssi, 0, 255) || rssi == "0" || rssi == "??");
    Field(ui.TemperatureText,
          IsNumberText(temperature, -32768, 32767) || OneOf(temperature, {"", "??"}));
    Field(ui.SfdLossText, IsNumberText(sfdLoss, -32768, 32767) || OneOf(sfdLoss, {"", "??"}));
    for (const TextBox* hook : {&ui.Line1Hook, &ui.Line2Hook})
      Field(*hook, OneOf(hook->Text(), {"ON HOOK", "OFF HOOK", ""}));
    for (const TextBox* ring : {&ui.Line1Ring, &ui.Line2Ring})
      Field(*ring, OneOf(ring->Text(), {"RING ON", "RING OFF", ""}));
    for (const TextBox* radio : {&ui.FrequencyText, &ui.CdmaText, &ui.TimeSlotText})
      Field(*radio, OneOf(radio->Text(), {" 0", " 1", " 2", " 3", "??", ""}));
    const std::size_t digitsFrom =
        !sfd.empty() && sfd[0] == '-' && sfd.size() > 1 && sfd.size() <= 11;
    Field(ui.SfdText, sfd.find_first_not_of("0123456789", digitsFrom) == std::string::npos);
    Field(ui.BattVoltText, OneOf(ui.BattVoltText.Text(), {"", "??"}));
    static const char* const kProgramNames[] = {"UNKNOWN", "BOOT LOADER", "LINE CARD APP",
                                                "CPE APP"};
    Expect(s.ProgramType >= 0 && s.ProgramType <= 3 &&
               ui.ProgramText.Text() == kProgramNames[s.ProgramType],
           "ProgramText says \"" + ui.ProgramText.Text() + "\" for program type " +
               std::to_string(s.ProgramType));
    Colour(ui.OpStateText, OpStateText_Change);
    Colour(ui.RssiText, RssiText_Change);
    Colour(ui.SfdLossText, SfdLossText_Change);
    Colour(ui.TemperatureText, TemperatureText_Change);
    Expect(s.SelectedCpe <= 3, "SelectedCpe is " + std::to_string(s.SelectedCpe));

    // The view matches the program type.
    const bool app = s.ProgramType >= ProgramType::LineCardApp,
               unknown = s.ProgramType == ProgramType::Unknown;
    Expect(ui.DownloadButton.Visible() == !unknown, "DownloadButton shown in the wrong view");
    Expect(ui.CommandLineText.Locked() == unknown, "CommandLineText locked in the wrong view");
    Expect(ui.SfdText.Visible() == app, "SfdText shown in the wrong view");
    Expect(ui.CpeSelect.Visible() == (s.ProgramType == ProgramType::LineCardApp),
           "CpeSelect shown in the wrong view");
    Expect(app || !(s.SfdWritePending || s.GenericWritePending || s.V35WritePending),
           "an EEPROM write is queued outside an application");
    Expect(!unknown || !s.CommandLinePending,
           "a command line is queued while the program is unknown");

    // Port and port list.
    Expect(s.PortListIndex == ui.CommPortSelect.ListIndex(),
           "PortListIndex " + std::to_string(s.PortListIndex) + " but the list shows " +
               std::to_string(ui.CommPortSelect.ListIndex()));
    Expect(!fake.port.IsOpen() || s.PortListIndex > 0, "a port is open while DISCONNECT is chosen");

    // Files: the log file while logging, the program file only while it is being sent.
    Expect(s.Downloading || s.DownloadFile == 0, "DownloadFile stays set after the download");
    const int open = (s.LoggingActive ? 1 : 0) + (s.DownloadFile != 0 ? 1 : 0);
    Expect(fake.files.OpenCount() == open, std::to_string(fake.files.OpenCount()) +
                                               " files open, expected " + std::to_string(open));
    Expect(s.LoggingActive == (ui.LoggingButton.Caption() == "Stop Logging"),
           "LoggingButton caption");
    // The log holds exactly what was received while logging was on.
    for (const auto& [path, bytes] : expectedLog_)
      Expect(fake.files.disk[path].bytes == bytes,
             "log file " + path + " holds " + std::to_string(fake.files.disk[path].bytes.size()) +
                 " bytes, expected " + std::to_string(bytes.size()));

    // Download layout and timers.
    const bool dl = s.Downloading;
    Expect(ui.DownloadStatus.Visible() == dl && ui.DownloadProgress.Visible() == dl &&
               ui.OpConfig.Visible() != dl && ui.CommPortSelect.Locked() == dl,
           "the window's download layout does not match the download");
    Expect(fake.transmitTimer.Enabled() != dl,
           "TransmitTimer enabled while downloading, or stopped");
    Expect(dl || !fake.downloadTimer.Enabled(), "DownloadTimer runs with no download");
    Expect(ui.DownloadButton.Caption() == (dl ? "Abort Download" : "Program Download"),
           "DownloadButton caption \"" + ui.DownloadButton.Caption() + "\"");
    if (!dl) return;
    Expect(s.ProgramType == ProgramType::BootLoader, "a download outside the boot loader view");
    Expect(s.DownloadStage >= 0 && s.DownloadStage <= 2, "DownloadStage out of range");
    Expect(s.DownloadStage == 2 || fake.downloadTimer.Enabled(), "handshake without a watchdog");
    Expect(s.ResponseLine.size() <= 4096,
           "the handshake keeps " + std::to_string(s.ResponseLine.size()) + " characters");
    const float p = ui.DownloadProgress.Value();
    Expect(p >= 0 && p <= 100, "progress out of range");
    if (s.DownloadStage != 2) return;
    // What went to the port is the start of the file, and all of it once flashing began.
    Expect(s.DownloadFile != 0, "sending without a program file");
    const std::string& file = fake.files.disk[c.programFile.fileName].bytes;
    Expect(sent_.size() <= file.size() && file.compare(0, sent_.size(), sent_) == 0,
           "the port got bytes that are not the program file's, in order");
    Expect(!fake.downloadTimer.Enabled() || sent_ == file,
           "flashing began after " + std::to_string(sent_.size()) + " of " +
               std::to_string(file.size()) + " bytes");
  }

  void CheckUnloaded() {
    Expect(windowClosed_, "unloaded without closing the window");
    Expect(!fake.port.IsOpen(), "the port stays open after the window was unloaded");
    // Unloaded from pending events in the middle of a handler (the download's handshake or send
    // step), that handler still finishes, and may open the program file or start the download
    // timer again; the program ends right afterwards, which closes and stops everything.
    if (unloadedInsideHandler_) return;
    Expect(fake.files.OpenCount() == 0, "files stay open after the window was unloaded");
    Expect(!fake.transmitTimer.Enabled() && !fake.downloadTimer.Enabled(),
           "a timer runs after the window was unloaded");
  }

  FuzzedDataProvider& in_;
  std::string stepName_ = "set-up", rxBefore_, splitFed_, terminal_, logPath_, sent_;
  std::map<std::string, std::string> expectedLog_;
  unsigned sentRun_ = 0;
  int programFiles_ = 0, modalArmed_ = 0, modalDepth_ = 0, modal_ = 0;  // modal_: boxes up
  bool windowClosed_ = false, unloadedInsideHandler_ = false;
  // VELMORA_FUZZ_TRACE=1 lists the steps as they run, for reading a crashing input.
  const bool trace_ = std::getenv("VELMORA_FUZZ_TRACE") != nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Harness(in).Run();
  return 0;
}
