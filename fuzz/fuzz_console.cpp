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

#include <algorithm>
#include <array>
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

std::string Printable(const std::string& text) {
  std::string out;
  for (const unsigned char ch : text.substr(0, 120)) {
    char hex[8];
    std::snprintf(hex, sizeof hex, ch >= 0x20 && ch < 0x7F && ch != '\\' ? "%c" : "\\x%02X", ch);
    out += hex;
  }
  return text.size() > 120 ? out + "...(" + std::to_string(text.size()) + " chars)" : out;
}

// Reply lines as the card sends them; each '$' becomes a hex digit taken from the input.
const char* const kLines[] = {"Boot Loader Initialized",
                              "Boot Loader Ready",
                              "Boot Loader Stopped",
                              "Line Card Application Initialized",
                              "CPE Application Initialized",
                              "Maximum CPU% $$",
                              "  cpe_reset #       Resets CPE # (0-3)",
                              "  stop              Stops Application",
                              "    Version:  Boot Loader $.$$",
                              "    Version:  Line Card Application $.$$",
                              "    Version:  CPE Application $.$$",
                              "    Version:  Radio Modem Firmware $.$$",
                              "op_status: $$",
                              "op_status: $$$$$$$$",
                              "Starting Ranging",
                              "Ranging Completed Successfully",
                              "Starting Acquisition",
                              "Communications Lost",
                              "Commanded Reset",
                              "SFD Loss Count: $$$$",
                              "FF28: $$ $$ $$ $$",
                              "FF12: $$ 00 00 00 00 00 00 00",
                              "000$: $$",
                              "hook_state: $$$$",
                              "hook_state: $$$$$$$$$$$$$$$$",
                              "ring_state: $$$$",
                              "ring_state: $$$$$$$$$$$$$$$$",
                              "Channel 0$ OFF HOOK",
                              "Channel 0$ ON HOOK",
                              "Channel 0$ RING ON",
                              "Channel 0$ RING OFF",
                              "temperature: $$$$",
                              "Battery: 12.3 V",
                              "\r\n"};

class Harness {
 public:
  FakePlatform fake;
  Console c{fake.platform()};
  ConsoleState& s = c.state;
  MainWindow& ui = c.ui;

  explicit Harness(FuzzedDataProvider& in) : in_(in) {
    // During the transfer every write is a piece of the program file.
    fake.port.onOutput = [this](const std::string& bytes) {
      if (c.downloadRun != sentRun_) sentRun_ = c.downloadRun, sent_.clear();
      if (s.Downloading && s.DownloadStage == 2) sent_ += bytes;
    };
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
    // The poll timer's writes are told apart: a write to a closed port is traced to it.
    fake.transmitTimer.onTimer = [this, poll = std::move(fake.transmitTimer.onTimer)] {
      const int closedWrites = fake.port.closedWrites;
      poll();
      Expect(fake.port.closedWrites == closedWrites, "the poll cycle wrote to a closed port");
    };
    Choose(ui.CommPortSelect, 1);
    Expect(fake.port.IsOpen(), "COM1 did not open");
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
  int In(int low, int high) { return in_.ConsumeIntegralInRange(low, high); }

  // Every parameter is read before the console's state is looked at.
  void Do(Step step, int depth) {
    // clang-format off
    switch (step) {
      case Step::FeedLines: {
        std::string chunk;
        for (int i = In(1, 4); i > 0; --i) chunk += ReplyLine();
        return Feed(chunk);
      }
      case Step::FeedRaw: return Feed(in_.ConsumeRandomLengthString(6000));
      case Step::FeedRepeated: {
        const std::string piece =
            in_.ConsumeBool() ? ReplyLine() : in_.ConsumeRandomLengthString(40);
        return Feed(Repeat(piece, In(1, 1200)));
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
      case Step::Time: return fake.clock.Advance(In(0, 20000));
      case Step::Send: return fake.port.RaiseSend();
      case Step::ChooseCpe: return Choose(ui.CpeSelect, In(-1, 4));
      case Step::ShowTab: {
        const int tab = In(0, 2);
        if (modal_ == 0) ui.GUI_Tabs.UserShowTab(tab);
        return;
      }
      case Step::TypeSfd: return TypeSfd();
      case Step::EditSfd: return Edit(ui.SfdText, Text(), false);
      case Step::PasteSfd: return Edit(ui.SfdText, Text(), true);
      case Step::ClickSfd: return Click(ui.SfdButton);
      case Step::ChooseGeneric: return Choose(ui.GenericSelect, In(-1, 4));
      case Step::ClickGeneric: return Click(ui.GenericButton);
      case Step::ChooseV35: return Choose(ui.V35Select, In(-1, 3));
      case Step::ClickV35: return Click(ui.V35Button);
      case Step::EditCommandLine: return Edit(ui.CommandLineText, Text(), false);
      case Step::CommandLineKey: {
        const Key key = std::array{Key::Enter, Key::Up, Key::Down}.at(In(0, 2));
        if (Shown(ui.CommandLineText)) ui.CommandLineText.UserKeyDown(key);
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
        // A build rewrites the program file and holds it between the check and the transfer.
        if (!c.programFile.fileName.empty()) {
          auto& file = fake.files.disk[c.programFile.fileName];
          file.bytes += ":00000001FF\r\n";
          file.locked = true;
        }
        return;
      case Step::LosePort: return fake.port.Lose();
      case Step::LosePortAndRunDeferred:
        fake.port.Lose();
        return c.RunDeferred();
      case Step::ChoosePort: return Choose(ui.CommPortSelect, In(0, 3));
      case Step::PortAvailability: {
        const auto availability = static_cast<FakeSerialPort::Availability>((In(0, 2) + 1) % 3);
        return fake.port.SetPort(In(1, 2), availability);
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
      case Step::ArmModalEvents:
        modalArmed_ = In(0, 3) * (depth < 3);  // none when nested three deep
        modalDepth_ = depth;
        return;
      case Step::Exit:
        Click(ui.ExitButton);
        unloadedInsideHandler_ |= c.unloaded && depth > 0;
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

  // In(0..3) kind (2: noise after the line, 3: noise before and after), a line of kLines (its
  // '$' filled), In(0..7) (0: no CR LF).
  std::string ReplyLine() {
    const int kind = In(0, 3);
    std::string line = kLines[in_.ConsumeIntegralInRange<std::size_t>(0, std::size(kLines) - 1)];
    for (char& ch : line)
      if (ch == '$') ch = "0123456789ABCDEF"[In(0, 15)];
    if (kind == 3) line.insert(0, in_.ConsumeRandomLengthString(24));
    if (kind >= 2) line += in_.ConsumeRandomLengthString(24);
    return In(0, 7) != 0 ? line + "\r\n" : line;
  }
  // In(0..2) kind; 0: String(16), 1: String(2000), 2: String(8) repeated In(1..1000) times.
  std::string Text() {
    const int kind = In(0, 2);
    if (kind < 2) return in_.ConsumeRandomLengthString(kind == 0 ? 16 : 2000);
    const std::string piece = in_.ConsumeRandomLengthString(8);
    return Repeat(piece, In(1, 1000));
  }
  static std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times && out.size() < 20000; ++i) out += piece;
    return out;
  }

  // A control a person can reach: no modal box is up, it and every container up to the window
  // are visible, and a tab page is the one in front.
  bool Shown(const Control& control) const {
    const Control* k = &control;
    for (int guard = 0; modal_ == 0 && k && guard < 8; ++guard) {
      if (!k->Visible()) return false;
      const std::string& in = k->Container();
      if (in.empty()) return true;
      const bool page = in.rfind("GUI_Tabs:", 0) == 0;
      if (page && ui.GUI_Tabs.Tab() != std::stoi(in.substr(9))) return false;
      k = page ? &ui.GUI_Tabs : ui.Find(in);
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
  void Edit(TextBox& box, const std::string& text, bool paste) {
    if (Editable(box)) paste ? box.UserPaste(text) : box.UserEdit(text);
  }

  void TypeSfd() {
    std::vector<std::int16_t> keys(static_cast<std::size_t>(In(1, 8)));
    for (auto& code : keys) {
      const int kind = In(0, 3);  // 2: backspace
      code = kind < 2 ? '0' + In(0, 9) : kind == 2 ? 8 : in_.ConsumeIntegral<std::int16_t>();
    }
    // A person typing: the key filter sees each character, the field takes those it keeps.
    for (std::int16_t code : keys) {
      if (!Editable(ui.SfdText) || !ui.SfdText.UserKeyPress(code)) continue;
      const std::string& text = ui.SfdText.Text();
      ui.SfdText.UserEdit(code != 8 ? text + static_cast<char>(code)
                                    : text.substr(0, text.empty() ? 0 : text.size() - 1));
    }
  }

  void ClickLogging() {
    static const char* const kPaths[] = {"log.txt", "old.txt", "full.txt", "readonly.txt",
                                         "locked.txt"};
    const bool answered = In(0, 4) != 0;
    const std::string path = kPaths[In(0, 4)];
    if (!Shown(ui.LoggingButton)) return;
    if (answered && path == "full.txt") fake.files.disk[path].full = true;
    const bool wasLogging = s.LoggingActive;
    ClickAnswering(ui.LoggingButton,
                   answered ? std::optional(ChosenFile{path, path}) : std::nullopt);
    if (wasLogging || !s.LoggingActive || !answered) return;
    logPath_ = path;
    if (!expectedLog_.count(path)) expectedLog_[path] = fake.files.disk[path].bytes;
  }

  void StartDownload() {
    const int kind = In(0, 5);
    const int length = In(0, 12000);
    if (!Shown(ui.DownloadButton) || s.Downloading) return;
    std::optional<ChosenFile> answer;
    if (kind == 1 || kind == 2) {
      answer = ChosenFile{kind == 1 ? "missing.hex" : "locked.hex", "x.hex"};
    } else if (kind > 2) {
      // A new valid program for each download, so that what was sent can be checked against it.
      const std::string name = "prog" + std::to_string(++programFiles_) + ".hex";
      fake.files.disk[name].bytes = length == 0 ? std::string() : IntelHex(length);
      checked_[name] = fake.files.disk[name].bytes;
      answer = ChosenFile{name, name};
    }
    ClickAnswering(ui.DownloadButton, answer);
  }
  // A click that shows the file chooser, answered (nullopt: cancelled).
  void ClickAnswering(CommandButton& b, const std::optional<ChosenFile>& answer) {
    fake.chooser.answers.assign(1, answer);
    b.UserClick();
    fake.chooser.answers.clear();
  }

  void Feed(const std::string& bytes) {
    if (fake.port.IsOpen()) {
      terminal_ += bytes;
      terminal_.erase(0, terminal_.size() - std::min(terminal_.size(), kTerminalCapacity));
      if (!s.Downloading) splitFed_ += bytes;
      if (s.LoggingActive && !bytes.empty() && !fake.files.disk[logPath_].full)
        expectedLog_[logPath_] += bytes;
    }
    fake.port.Feed(bytes);
  }

  // -- invariants ----------------------------------------------------------------------------

  [[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr,
                 "\nfuzz_console: invariant violated after step %s: %s\n"
                 "  ProgramType=%d Downloading=%d DownloadStage=%d LoggingActive=%d port %s\n",
                 stepName_.c_str(), what.c_str(), s.ProgramType, s.Downloading, s.DownloadStage,
                 s.LoggingActive, fake.port.IsOpen() ? "open" : "closed");
    std::abort();
  }
  void Expect(bool ok, const std::string& what) {
    if (!ok) Fail(what);
  }
  // A field holds one of the texts, or a number within [low, high] written as " 12" or "-12".
  void Field(const TextBox& box, std::initializer_list<const char*> texts, long long low = 1,
             long long high = 0) {
    const std::string& t = box.Text();
    const long long v = std::strtoll(t.c_str(), nullptr, 10);
    const bool number = v >= low && v <= high && t == (v >= 0 ? " " : "") + std::to_string(v);
    Expect(number || std::find(texts.begin(), texts.end(), t) != texts.end(),
           box.Name() + " holds \"" + Printable(t) + "\"");
  }

  void CheckInvariants() {
    if (c.unloaded) return CheckUnloaded();
    // Receive path: the unfinished line only, within its bound, the end of what came.
    const std::string& rx = s.RxBuffer;
    Expect(rx.size() <= kMaxUnterminatedLine && rx.find("\r\n") == rx.npos &&
               (rxBefore_ + splitFed_).ends_with(rx),
           "RxBuffer holds \"" + Printable(rx) + "\"");
    // The pane shows exactly the newest received characters.
    Expect(ui.TerminalText.Text() == terminal_, "the terminal pane is not the end of what came");

    // Field texts are only what a parser, a view or the engineer may write.
    Field(ui.OpStateText, {"Acquisition", "Ranging", "Locked", "??"});
    Field(ui.RssiText, {"0", "??"}, 0, 255);
    Field(ui.TemperatureText, {"", "??"}, -32768, 32767);
    Field(ui.SfdLossText, {"", "??"}, -32768, 32767);
    Field(ui.BattVoltText, {"", "??"});
    for (const TextBox* hook : {&ui.Line1Hook, &ui.Line2Hook})
      Field(*hook, {"ON HOOK", "OFF HOOK", ""});
    for (const TextBox* ring : {&ui.Line1Ring, &ui.Line2Ring})
      Field(*ring, {"RING ON", "RING OFF", ""});
    for (const TextBox* radio : {&ui.FrequencyText, &ui.CdmaText, &ui.TimeSlotText})
      Field(*radio, {"??", ""}, 0, 3);
    const std::string& sfd = ui.SfdText.Text();
    const bool minus = sfd.size() > 1 && sfd.size() <= 11 && sfd[0] == '-';
    Expect(sfd.find_first_not_of("0123456789", minus) == sfd.npos,
           "SfdText holds \"" + Printable(sfd) + "\"");
    static const char* const kPrograms[] = {"UNKNOWN", "BOOT LOADER", "LINE CARD APP", "CPE APP"};
    Expect(s.ProgramType >= 0 && s.ProgramType <= 3 &&
               ui.ProgramText.Text() == kPrograms[s.ProgramType],
           "ProgramText says \"" + ui.ProgramText.Text() + "\"");
    // The colour follows the text: running the change handler again changes nothing.
    const std::pair<TextBox*, void (*)(Console&)> kColoured[] = {
        {&ui.OpStateText, OpStateText_Change},
        {&ui.RssiText, RssiText_Change},
        {&ui.SfdLossText, SfdLossText_Change},
        {&ui.TemperatureText, TemperatureText_Change}};
    for (const auto& [box, change] : kColoured) {
      const Color before = box->BackColor();
      change(c);
      Expect(box->BackColor() == before, box->Name() + " has a colour its text does not give");
    }
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
           "an EEPROM write queued outside an application");
    Expect(!unknown || !s.CommandLinePending, "a command line queued for an unknown program");

    // Port and port list.
    Expect(s.PortListIndex == ui.CommPortSelect.ListIndex(), "PortListIndex is not the list's");
    Expect(!fake.port.IsOpen() || s.PortListIndex > 0, "a port is open while DISCONNECT is chosen");

    // Files: the log file while logging, the program file only while it is being sent.
    Expect(s.Downloading || s.DownloadFile == 0, "DownloadFile stays set after the download");
    const int open = s.LoggingActive + (s.DownloadFile != 0);
    Expect(fake.files.OpenCount() == open, "files open: " + std::to_string(fake.files.OpenCount()));
    Expect(s.LoggingActive == (ui.LoggingButton.Caption() == "Stop Logging"),
           "LoggingButton caption");
    // The log holds exactly what was received while logging was on.
    for (const auto& [path, bytes] : expectedLog_)
      Expect(fake.files.disk[path].bytes == bytes, "log file " + path + " is not what came");

    // Download layout and timers.
    const bool dl = s.Downloading;
    Expect(ui.DownloadStatus.Visible() == dl && ui.DownloadProgress.Visible() == dl &&
               ui.OpConfig.Visible() != dl && ui.CommPortSelect.Locked() == dl,
           "the window's layout does not match the download");
    Expect(fake.transmitTimer.Enabled() != dl, "TransmitTimer runs with a download, or stopped");
    Expect(dl || !fake.downloadTimer.Enabled(), "DownloadTimer runs with no download");
    Expect(ui.DownloadButton.Caption() == (dl ? "Abort Download" : "Program Download"),
           "DownloadButton caption");
    if (!dl) return;
    Expect(s.ProgramType == ProgramType::BootLoader, "a download outside the boot loader view");
    Expect(s.DownloadStage >= 0 && s.DownloadStage <= 2, "DownloadStage out of range");
    Expect(s.DownloadStage == 2 || fake.downloadTimer.Enabled(), "handshake without a watchdog");
    Expect(s.ResponseLine.size() <= 4096, "the handshake keeps a too long line");
    Expect(ui.DownloadProgress.Value() >= 0 && ui.DownloadProgress.Value() <= 100,
           "progress out of range");
    if (s.DownloadStage != 2) return;
    // What went to the port is the start of the file as checked, and all of it once flashing
    // began, whatever became of the file since.
    const std::string& file = checked_[c.programFile.fileName];
    Expect(file.starts_with(sent_), "the port got bytes that are not the program file's, in order");
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
  std::map<std::string, std::string> expectedLog_, checked_;
  unsigned sentRun_ = 0;
  int programFiles_ = 0, modalArmed_ = 0, modalDepth_ = 0, modal_ = 0;  // modal_: boxes up
  bool windowClosed_ = false, unloadedInsideHandler_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Harness(in).Run();
  return 0;
}
