// velmora-batch: the console's maintenance job over many cards at once, without a window.
// Qt Core, SerialPort and Network only: it runs where there is no display.
#include <pwd.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "batch/batch_run.h"
#include "download/download.h"
#include "platform/clock.h"
#include "platform/qt/io/qt_network_port.h"
#include "platform/qt/io/qt_platform.h"
#include "platform/qt/io/qt_serial_port.h"
#include "serial/port_switch.h"
#include "serial/port_watch.h"
#include "trends/trends.h"

namespace {

using namespace velmora;
using namespace velmora::batch;

// One card's ports and timers, as the window's are, but one set per card.
class QtCardPlatform : public CardPlatform {
 public:
  QtCardPlatform() : local_(PortTable{}), switch_(local_, network_) {}
  SerialPort& Port() override { return switch_; }
  Timer& TransmitTimer() override { return transmit_; }
  Timer& DownloadTimer() override { return download_; }
  Timer& WatchTimer() override { return watch_; }
  Timer& DeferredTimer() override { return deferred_; }
  void Attach(Console& console) override {
    local_.devices = [&console](int n) { return PortDevice(console, n); };
    network_.devices = local_.devices;
  }

 private:
  QtSerialPort local_;
  QtNetworkPort network_;
  PortSwitch switch_;
  QtTimer transmit_, download_, watch_, deferred_;
};

int signalPipe[2] = {-1, -1};
void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto n = write(signalPipe[1], &byte, 1);
}

std::string ReadWhole(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return {};
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) error = path + ": cannot be read";
  return text.str();
}

// The progress: on a terminal one line per card, rewritten in place; otherwise a plain line for
// every change of a card's stage.
class Progress {
 public:
  Progress(const BatchRun& run, bool quiet)
      : run_(run), quiet_(quiet), tty_(isatty(STDOUT_FILENO)) {}
  void Moved(std::size_t i) {
    if (quiet_) return;
    if (!tty_) {
      std::printf("%s\n", Line(i).c_str());
      std::fflush(stdout);
      return;
    }
    dirty_ = true;
  }
  // On a terminal: at most ten redraws a second.
  void Redraw() {
    if (quiet_ || !tty_) return;
    // A download's percentage moves without a change of stage.
    for (const auto& card : run_.Cards()) dirty_ |= card->CurrentStage() == Stage::kDownloading;
    if (!dirty_) return;
    dirty_ = false;
    if (drawn_) std::printf("\x1b[%zuA", drawn_);
    for (std::size_t i = 0; i < run_.Cards().size(); ++i)
      std::printf("\r\x1b[2K%s\n", Line(i).c_str());
    drawn_ = run_.Cards().size();
    std::fflush(stdout);
  }
  void Flush() {
    dirty_ = true;
    Redraw();
  }

 private:
  std::string Line(std::size_t i) const {
    const CardRun& card = *run_.Cards()[i];
    std::string line = card.Report().port + ": ";
    if (!card.Done()) {
      if (card.CurrentStage() != Stage::kDownloading)
        return line + std::string(StageName(card.CurrentStage()));
      // The window's status line and bar: the transfer's share, then the flash's wait.
      const MainWindow& ui = card.ConsoleOf().ui;
      if (ui.DownloadStatus.Text().starts_with("Flashing "))
        return line + "flashing " + std::to_string(static_cast<int>(ui.DownloadProgress.Value())) +
               "%";
      return line + "downloading " + std::to_string(card.Percent()) + "%";
    }
    line += ResultName(card.Report().result);
    if (!card.Report().error.empty()) line += ": " + card.Report().error;
    return line;
  }
  const BatchRun& run_;
  bool quiet_;
  bool tty_;
  bool dirty_ = true;
  std::size_t drawn_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("velmora-batch");
  QCoreApplication::setApplicationVersion(VELMORA_VERSION);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Runs a maintenance job over many radio cards at once: recognise each card's program, "
      "read its versions and status, set its EEPROM settings, download a program; then report.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("JOB", "the job file (YAML)");
  const QCommandLineOption jobs("jobs", "at most N cards at a time (default: all)", "N");
  const QCommandLineOption report("report", "write a JSON report to FILE", "FILE");
  const QCommandLineOption junit("junit", "write a JUnit XML report to FILE", "FILE");
  const QCommandLineOption quiet("quiet", "no progress lines");
  parser.addOptions({jobs, report, junit, quiet});
  if (!parser.parse(app.arguments())) {
    std::fprintf(stderr, "velmora-batch: %s\n", qPrintable(parser.errorText()));
    return 2;
  }
  if (parser.isSet("help")) {
    std::printf("%s", qPrintable(parser.helpText()));
    return 0;
  }
  if (parser.isSet("version")) {
    std::printf("velmora-batch %s\n", VELMORA_VERSION);
    return 0;
  }
  if (parser.positionalArguments().size() != 1) {
    std::fprintf(stderr, "velmora-batch: give one job file (velmora-batch --help)\n");
    return 2;
  }
  int jobCount = 0;
  if (parser.isSet(jobs)) {
    bool ok = false;
    jobCount = parser.value(jobs).toInt(&ok);
    if (!ok || jobCount < 1) {
      std::fprintf(stderr, "velmora-batch: --jobs takes a whole number of 1 or more, not %s\n",
                   qPrintable(parser.value(jobs)));
      return 2;
    }
  }

  // The job and its program are checked whole before any card is touched.
  const std::string jobPath = parser.positionalArguments().front().toStdString();
  std::string error;
  const std::string jobText = ReadWhole(jobPath, error);
  if (!error.empty()) {
    std::fprintf(stderr, "velmora-batch: %s\n", error.c_str());
    return 2;
  }
  auto read = ReadJob(jobText, jobPath);
  if (const auto* bad = std::get_if<JobError>(&read)) {
    std::fprintf(stderr, "velmora-batch: %s\n", bad->text.c_str());
    return 2;
  }
  const Job job = std::get<Job>(std::move(read));
  std::optional<CheckedProgram> program;
  if (job.program) {
    program =
        CheckedProgram{*job.program, std::filesystem::path(*job.program).filename().string(), {}};
    program->bytes = ReadWhole(*job.program, error);
    if (!error.empty()) {
      std::fprintf(stderr, "velmora-batch: %s: no card was touched\n", error.c_str());
      return 2;
    }
    // The window's own check, with the words of its box.
    const auto fault = ProgramFileFault(
        program->bytes, static_cast<std::int64_t>(program->bytes.size()), program->title);
    if (fault) {
      std::fprintf(stderr, "velmora-batch: %s: no card was touched\n", fault->c_str());
      return 2;
    }
  }

  // The audit log: one line for every change, appended as it happens.
  const std::string auditDir = AuditFolder(std::getenv("VELMORA_STATE_DIR"),
                                           std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
  const std::string auditPath = auditDir.empty() ? "" : auditDir + "/audit.jsonl";
  const passwd* account = getpwuid(getuid());
  const std::string who = account ? account->pw_name : std::to_string(getuid());
  const std::string host = QSysInfo::machineHostName().toStdString();
  bool auditWarned = false;

  BatchRun run(
      job, program ? &*program : nullptr,
      [](const std::string&) { return std::make_unique<QtCardPlatform>(); }, SystemClock(),
      jobCount);
  Progress progress(run, parser.isSet(quiet));
  run.onProgress = [&progress](std::size_t i) { progress.Moved(i); };
  run.onChange = [&](const std::string& port, const Change& change) {
    if (auditPath.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(auditDir, ec);
    std::ofstream out(auditPath, std::ios::app | std::ios::binary);
    out << AuditLine({IsoTime(SystemClock().WallMs()), who, host, port, change});
    out.flush();
    if (!out && !auditWarned) {
      auditWarned = true;
      std::fprintf(stderr,
                   "velmora-batch: the audit log %s cannot be written: %s (the reports still "
                   "list every change)\n",
                   auditPath.c_str(), std::strerror(errno));
    }
  };
  QTimer redraw;
  QObject::connect(&redraw, &QTimer::timeout, [&progress] { progress.Redraw(); });
  redraw.start(100);

  // Ctrl-C, SIGTERM, SIGHUP: no card is started any more, and a card being flashed is waited for.
  if (pipe(signalPipe) != 0) return 1;
  QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&run] {
    char byte;
    [[maybe_unused]] const auto n = ::read(signalPipe[0], &byte, 1);
    std::fprintf(stderr,
                 "velmora-batch: stopping; cards being flashed are waited for, no card is "
                 "started\n");
    run.Stop();
  });
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, OnSignal);

  const std::int64_t started = SystemClock().MonotonicMs();
  run.onFinished = [&app] { QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); }); };
  QTimer::singleShot(0, &app, [&run] { run.Start(); });
  if (!run.Finished()) app.exec();
  progress.Flush();

  const std::vector<CardReport> reports = run.Reports();
  const double seconds = static_cast<double>(SystemClock().MonotonicMs() - started) / 1000.0;
  QtFiles files;
  // A change the audit log does not hold is not a clean run, whatever the cards say.
  int status = auditWarned ? 1 : run.ExitStatus();
  const auto write = [&](const QCommandLineOption& option, const std::string& text) {
    if (!parser.isSet(option)) return;
    const std::string path = parser.value(option).toStdString();
    if (const FileError failed = files.Replace(path, text)) {
      std::fprintf(stderr, "velmora-batch: %s: %s\n", path.c_str(), failed->c_str());
      status = 1;
    }
  };
  write(report, ReportJson(job, reports));
  write(junit, ReportJunit(job, reports, seconds));
  int counts[3] = {0, 0, 0};
  for (const CardReport& r : reports) ++counts[static_cast<int>(r.result)];
  std::fprintf(stderr, "velmora-batch: %zu cards in %.1f s: %d ok, %d changed, %d failed\n",
               reports.size(), seconds, counts[0], counts[1], counts[2]);
  return status;
}
