#include "batch/card_run.h"

#include <algorithm>
#include <cstdlib>

#include "app/console_state.h"
#include "app/lifecycle.h"
#include "app/program_view.h"
#include "serial/port_watch.h"

namespace velmora::batch {
namespace {

// The console opens every port at 57600 baud, 8N1: ten bits a byte.
constexpr double kLineBytesPerSecond = 57600.0 / 10.0;

// The program file, served from the bytes checked once: whatever happens to the file on the
// disk while the job runs, every card gets the same program.
class ProgramFiles : public Files {
 public:
  explicit ProgramFiles(const CheckedProgram* program) : program_(program) {}
  std::int16_t FreeFile() override { return 1; }
  FileError OpenForRead(std::int16_t, const std::string& path) override {
    if (!program_ || path != program_->path) return std::string("No such file: ") + path;
    at_ = 0;
    open_ = true;
    return std::nullopt;
  }
  FileError OpenForAppend(std::int16_t, const std::string&) override {
    return std::string("The batch program keeps no log files");
  }
  std::int64_t Length(std::int16_t) override {
    return open_ ? static_cast<std::int64_t>(program_->bytes.size()) : 0;
  }
  std::string Read(std::int16_t, std::size_t count) override {
    if (!open_) return {};
    std::string part = program_->bytes.substr(std::min(at_, program_->bytes.size()), count);
    at_ += part.size();
    return part;
  }
  FileError Write(std::int16_t, std::string_view) override {
    return std::string("The program file is read only");
  }
  void Close(std::int16_t) override { open_ = false; }
  void CloseAll() override { open_ = false; }
  int OpenCount() const override { return open_ ? 1 : 0; }

 private:
  const CheckedProgram* program_;
  std::size_t at_ = 0;
  bool open_ = false;
};

// The engineer's choice in the download's file chooser: the job's program file.
class ProgramChooser : public FileChooser {
 public:
  explicit ProgramChooser(const CheckedProgram* program) : program_(program) {}
  std::optional<ChosenFile> ShowOpen(const OpenFileRequest&) override {
    if (!program_) return std::nullopt;
    return ChosenFile{program_->path, program_->title, 0};
  }

 private:
  const CheckedProgram* program_;
};

// Every box the window would show is kept: the card's error is the first one's words.
class KeptBoxes : public MessageBox {
 public:
  explicit KeptBoxes(std::vector<std::string>& kept) : kept_(kept) {}
  void Warning(const std::string& text) override { kept_.push_back(text); }

 private:
  std::vector<std::string>& kept_;
};

// No window to repaint and no person to click: the batch's handlers need no events run
// inside them. Deferred work runs from the run's own timer, on a fresh call stack.
class TimerPump : public EventPump {
 public:
  explicit TimerPump(Timer& timer) : timer_(timer) {}
  void ProcessEvents() override {}
  void ScheduleDeferred() override {
    timer_.SetInterval(1);
    timer_.SetEnabled(true);
  }

 private:
  Timer& timer_;
};

std::optional<int> NumberIn(const std::string& text) {
  if (text.empty() || text.size() > 9 ||
      !std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
    return std::nullopt;
  return std::atoi(text.c_str());
}

std::optional<int> Chosen(const ComboBox& box) {
  if (box.ListIndex() < 0) return std::nullopt;
  return box.ListIndex();
}

std::string SettingText(std::optional<int> value) {
  return value ? std::to_string(*value) : std::string("unknown");
}

std::string ProgramWords(int type) {
  switch (type) {
    case ProgramType::BootLoader:
      return "the boot loader";
    case ProgramType::LineCardApp:
      return "the line card application";
    case ProgramType::CpeApp:
      return "the CPE application";
    default:
      return "no program the console knows";
  }
}

bool IsApplication(int type) {
  return type == ProgramType::LineCardApp || type == ProgramType::CpeApp;
}

}  // namespace

std::string_view StageName(Stage stage) {
  switch (stage) {
    case Stage::kWaiting:
      return "waiting";
    case Stage::kConnecting:
      return "connecting";
    case Stage::kRecognising:
      return "recognising";
    case Stage::kReading:
      return "reading";
    case Stage::kWriting:
      return "writing settings";
    case Stage::kDownloading:
      return "downloading";
    case Stage::kRestarting:
      return "restarting";
    case Stage::kChecking:
      return "checking";
    case Stage::kDone:
      return "done";
  }
  return "";
}

class CardRun::Parts {
 public:
  Parts(const CheckedProgram* program, std::vector<std::string>& boxes, Timer& deferred)
      : files(program), chooser(program), messages(boxes), pump(deferred) {}
  ProgramFiles files;
  ProgramChooser chooser;
  KeptBoxes messages;
  TimerPump pump;
};

CardRun::CardRun(std::string port, const Job& job, const CheckedProgram* program,
                 std::unique_ptr<CardPlatform> platform, const Clock& clock, Timeouts timeouts)
    : port_(std::move(port)),
      job_(job),
      program_(program),
      platform_(std::move(platform)),
      parts_(std::make_unique<Parts>(program, boxes_, platform_->DeferredTimer())),
      clock_(clock),
      timeouts_(timeouts) {
  report_.port = port_;
  console_ = std::make_unique<Console>(Platform{platform_->Port(), platform_->TransmitTimer(),
                                                platform_->DownloadTimer(), parts_->files,
                                                parts_->chooser, parts_->messages, parts_->pump});
  platform_->DeferredTimer().onTimer = [this] {
    platform_->DeferredTimer().SetEnabled(false);
    console_->RunDeferred();
  };
  platform_->WatchTimer().onTimer = [this] { Look(); };
  // The transfer's time, to the event: from "Sending" to "Flashing" on the status line.
  console_->ui.DownloadStatus.SetObserver([this](Control& status, Prop) {
    const std::string& text = static_cast<TextBox&>(status).Text();
    if (text.starts_with("Sending ") && sendingFrom_ < 0) sendingFrom_ = clock_.MonotonicUs();
    if (text.starts_with("Flashing ") && sendingFrom_ >= 0 && sendingTo_ < 0)
      sendingTo_ = clock_.MonotonicUs();
  });
}

CardRun::~CardRun() {
  platform_->WatchTimer().SetEnabled(false);
  platform_->DeferredTimer().SetEnabled(false);
  if (stage_ != Stage::kWaiting && !console_->unloaded) UnloadMainWindow(*console_);
}

std::int64_t CardRun::Elapsed() const {
  return clock_.MonotonicMs() - stageStarted_;
}

void CardRun::Enter(Stage stage) {
  stage_ = stage;
  stageStarted_ = clock_.MonotonicMs();
  if (onProgress) onProgress();
}

void CardRun::Start() {
  if (stage_ != Stage::kWaiting) return;
  started_ = clock_.MonotonicMs();
  Enter(Stage::kConnecting);
  Console& c = *console_;
  UsePortTable(c, {{1, port_}}, true);
  platform_->Attach(c);
  Form_Load(c);
  // The port list leaves out a device that is not there, as the window's does.
  if (c.ui.CommPortSelect.ListCount() < 2) return Fail("There is no such port.");
  c.ui.CommPortSelect.UserChoose(1);
  platform_->WatchTimer().SetInterval(100);
  platform_->WatchTimer().SetEnabled(true);
  Look();
}

void CardRun::Stop() {
  stopAsked_ = true;
  if (stage_ == Stage::kWaiting) {
    started_ = clock_.MonotonicMs();
    Enter(Stage::kConnecting);
    return Fail("Stopped before this card was started.");
  }
  if (stage_ != Stage::kDone && !console_->state.Downloading) Fail("Stopped by the user.");
}

int CardRun::Percent() const {
  if (stage_ != Stage::kDownloading || !program_ || program_->bytes.empty()) return 0;
  const auto sent = std::min<std::int64_t>(console_->state.DownloadSent,
                                           static_cast<std::int64_t>(program_->bytes.size()));
  return static_cast<int>(sent * 100 / static_cast<std::int64_t>(program_->bytes.size()));
}

void CardRun::Fail(std::string error) {
  if (stage_ == Stage::kDone) return;
  report_.result = Result::kFailed;
  report_.error = std::move(error);
  Finish();
}

void CardRun::Finish() {
  platform_->WatchTimer().SetEnabled(false);
  // The console as the window leaves it when closed: port closed, its timers stopped.
  if (!console_->unloaded) UnloadMainWindow(*console_);
  report_.seconds = static_cast<double>(clock_.MonotonicMs() - started_) / 1000.0;
  Enter(Stage::kDone);
}

Snapshot CardRun::Take() const {
  const MainWindow& ui = console_->ui;
  Snapshot s;
  s.program = ProgramTypeText(console_->state.ProgramType);
  if (IsApplication(console_->state.ProgramType)) {
    s.versions = {{"bootLoader", ui.BootLoaderText.Text()},
                  {"application", ui.ApplicationText.Text()},
                  {"firmware", ui.FirmwareText.Text()}};
    s.settings = {NumberIn(ui.SfdText.Text()), Chosen(ui.GenericSelect), Chosen(ui.V35Select)};
    const std::pair<const char*, const TextBox*> fields[] = {{"opState", &ui.OpStateText},
                                                             {"rssi", &ui.RssiText},
                                                             {"sfdLoss", &ui.SfdLossText},
                                                             {"line1Hook", &ui.Line1Hook},
                                                             {"line1Ring", &ui.Line1Ring},
                                                             {"line2Hook", &ui.Line2Hook},
                                                             {"line2Ring", &ui.Line2Ring},
                                                             {"batteryVoltage", &ui.BattVoltText},
                                                             {"temperature", &ui.TemperatureText},
                                                             {"frequency", &ui.FrequencyText},
                                                             {"cdma", &ui.CdmaText},
                                                             {"timeSlot", &ui.TimeSlotText}};
    // The window pads numbers with a blank; the report gives the value.
    for (const auto& [name, field] : fields) {
      const std::string& text = field->Text();
      const auto from = text.find_first_not_of(' ');
      s.status[name] = from == std::string::npos ? "" : text.substr(from);
    }
  }
  return s;
}

// The run's look at its console, every 100 ms: what the stage waits for has come, or its time
// is up, or the window would have shown a box.
void CardRun::Look() {
  if (stage_ == Stage::kDone) return;
  Console& c = *console_;
  const auto& s = c.state;
  // A download's end is taken in, box and stop included, by Downloaded().
  if (stage_ != Stage::kDownloading) {
    if (!boxes_.empty()) return Fail(boxes_.front());
    if (stopAsked_) return Fail("Stopped by the user.");
  }
  switch (stage_) {
    case Stage::kConnecting:
      if (!c.MSComm1.IsOpen()) {
        if (Elapsed() > timeouts_.recognise) Fail("The port did not open.");
        return;
      }
      return Enter(Stage::kRecognising);
    case Stage::kRecognising:
    case Stage::kRestarting: {
      if (s.ProgramType == ProgramType::Unknown) {
        bootLoaderSince_ = -1;
        if (Elapsed() > timeouts_.recognise)
          Fail(c.ui.TerminalText.Text().empty()
                   ? "The card did not answer."
                   : "The card answers, but not as any of its programs (wrong speed or wrong "
                     "device?).");
        return;
      }
      // The boot loader's listing comes before an application's is seen: believe it only
      // once it has stayed.
      if (s.ProgramType == ProgramType::BootLoader) {
        if (bootLoaderSince_ < 0) bootLoaderSince_ = clock_.MonotonicMs();
        if (clock_.MonotonicMs() - bootLoaderSince_ < timeouts_.bootLoaderSettle) return;
      }
      return Recognised();
    }
    case Stage::kReading:
    case Stage::kChecking:
      if (s.InitialReadPending) {
        if (Elapsed() > timeouts_.firstRound) Fail("The card stopped answering.");
        return;
      }
      if (c.ui.ApplicationText.Text() == "???" || c.ui.SfdText.Text().empty())
        return Fail("The card stopped answering: its versions and settings did not come.");
      if (stage_ == Stage::kChecking) {
        report_.after = Take();
        const std::string& version = report_.after->versions["application"];
        if (job_.versionsAfter && version.find(*job_.versionsAfter) == std::string::npos)
          return Fail("After the download the card runs " + version + ", not " +
                      *job_.versionsAfter + ".");
        report_.result = Result::kChanged;
        return Finish();
      }
      report_.before = Take();
      return StartWrites();
    case Stage::kWriting:
      return CheckReadBacks();
    case Stage::kDownloading:
      if (!s.Downloading) return Downloaded();
      // The window waits for the engineer to abort a transfer whose port stopped taking bytes;
      // here nobody would, so the run aborts it, which restarts the card.
      if (s.DownloadStage == 2 && !c.DownloadTimer.Enabled()) {
        if (s.DownloadSent != lastSent_) {
          lastSent_ = s.DownloadSent;
          lastSentAt_ = clock_.MonotonicMs();
        } else if (clock_.MonotonicMs() - lastSentAt_ > timeouts_.stall) {
          stalled_ = true;
          c.ui.DownloadButton.UserClick();
        }
      }
      return;
    default:
      return;
  }
}

void CardRun::Recognised() {
  const int type = console_->state.ProgramType;
  const bool restarting = stage_ == Stage::kRestarting;
  if (job_.expect && type != *job_.expect) {
    // A card left in its boot loader (a download that broke off) takes the program it lacks.
    if (!restarting && type == ProgramType::BootLoader && NeedsDownload()) {
      report_.before = Take();
      return StartDownload();
    }
    return Fail("The card runs " + ProgramWords(type) + ", not " + ProgramWords(*job_.expect) +
                ".");
  }
  if (!IsApplication(type)) {
    // Nothing to read or set in the boot loader.
    report_.before = Take();
    if (!restarting && NeedsDownload()) return StartDownload();
    report_.after = report_.before;
    report_.result = Result::kOk;
    return Finish();
  }
  if (job_.settings.generic && (job_.genericKey == "range") != (type == ProgramType::CpeApp))
    return Fail("The job sets " + job_.genericKey + ", which " + ProgramWords(type) +
                " does not have.");
  // The first status round runs on any tab but the terminal's.
  console_->ui.GUI_Tabs.UserShowTab(0);
  Enter(restarting ? Stage::kChecking : Stage::kReading);
}

void CardRun::StartWrites() {
  MainWindow& ui = console_->ui;
  const Settings& want = job_.settings;
  const Settings& have = report_.before->settings;
  if (want.sfd && want.sfd != have.sfd) {
    ui.SfdText.UserEdit(std::to_string(*want.sfd));
    ui.SfdButton.UserClick();
    written_.sfd = want.sfd;
    readBackCommands_.push_back("ree 0");
  }
  if (want.generic && want.generic != have.generic) {
    ui.GenericSelect.UserChoose(static_cast<std::int16_t>(*want.generic));
    ui.GenericButton.UserClick();
    written_.generic = want.generic;
    readBackCommands_.push_back("ree 4");
  }
  if (want.v35 && want.v35 != have.v35) {
    ui.V35Select.UserChoose(static_cast<std::int16_t>(*want.v35));
    ui.V35Button.UserClick();
    written_.v35 = want.v35;
    readBackCommands_.push_back("ree 5");
  }
  if (readBackCommands_.empty()) {
    if (NeedsDownload()) return StartDownload();
    report_.after = Take();
    report_.result = Result::kOk;
    return Finish();
  }
  std::reverse(readBackCommands_.begin(), readBackCommands_.end());
  Enter(Stage::kWriting);
}

// The read-backs are asked one a tick from the command line, once the updates went out; each
// read-back fills its control and disables its button.
void CardRun::CheckReadBacks() {
  Console& c = *console_;
  MainWindow& ui = c.ui;
  const auto& s = c.state;
  const bool updatesSent = !s.SfdWritePending && !s.GenericWritePending && !s.V35WritePending;
  if (updatesSent && !readBackCommands_.empty() && !s.CommandLinePending) {
    ui.CommandLineText.UserEdit(readBackCommands_.back());
    ui.CommandLineButton.UserClick();
    readBackCommands_.pop_back();
    return;
  }
  const bool back = readBackCommands_.empty() && !s.CommandLinePending &&
                    !(written_.sfd && ui.SfdButton.Enabled()) &&
                    !(written_.generic && ui.GenericButton.Enabled()) &&
                    !(written_.v35 && ui.V35Button.Enabled());
  if (!back) {
    if (Elapsed() > timeouts_.readBack) Fail("The card did not read its settings back.");
    return;
  }
  const Settings now = Take().settings;
  const Settings& before = report_.before->settings;
  const std::pair<const char*, std::optional<int> Settings::*> names[] = {
      {"sfd", &Settings::sfd}, {nullptr, &Settings::generic}, {"v35", &Settings::v35}};
  for (const auto& [name, member] : names) {
    if (!(written_.*member)) continue;
    const std::string what = name ? name : job_.genericKey;
    if (now.*member != written_.*member)
      return Fail(what + " read back as " + SettingText(now.*member) + ", written " +
                  SettingText(written_.*member) + ".");
    const Change change{what, SettingText(before.*member), SettingText(now.*member)};
    report_.changes.push_back(change);
    if (onChange) onChange(change);
  }
  if (NeedsDownload()) return StartDownload();
  report_.after = Take();
  report_.result = Result::kChanged;
  Finish();
}

bool CardRun::NeedsDownload() const {
  if (!program_ || downloadTried_) return false;
  if (!job_.versionsAfter || !IsApplication(console_->state.ProgramType)) return true;
  return console_->ui.ApplicationText.Text().find(*job_.versionsAfter) == std::string::npos;
}

void CardRun::StartDownload() {
  if (stopAsked_) return Fail("Stopped by the user.");
  downloadTried_ = true;
  Enter(Stage::kDownloading);
  console_->ui.DownloadButton.UserClick();
  if (!console_->state.Downloading)
    Fail(boxes_.empty() ? "The download did not start." : boxes_.front());
}

void CardRun::Downloaded() {
  if (sendingFrom_ >= 0 && sendingTo_ >= sendingFrom_ && program_) {
    DownloadFigures figures;
    figures.bytes = static_cast<std::int64_t>(program_->bytes.size());
    figures.seconds = static_cast<double>(sendingTo_ - sendingFrom_) / 1e6;
    if (figures.seconds > 0)
      figures.efficiency =
          static_cast<double>(figures.bytes) / figures.seconds / kLineBytesPerSecond;
    report_.download = figures;
  }
  if (!boxes_.empty()) return Fail(boxes_.front());
  if (stalled_)
    return Fail("The download stalled: no byte went out for " +
                std::to_string(timeouts_.stall / 1000) +
                " s. It was aborted and the card restarted.");
  if (!report_.download)
    return Fail(stopAsked_ ? "Stopped by the user." : "The download broke off.");
  report_.changes.push_back(
      {"program", report_.before ? report_.before->versions["application"] : "", program_->title});
  if (onChange) onChange(report_.changes.back());
  if (stopAsked_) return Fail("Stopped by the user after the download; the card was not checked.");
  bootLoaderSince_ = -1;
  Enter(Stage::kRestarting);
}

}  // namespace velmora::batch
