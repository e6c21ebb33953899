// One card of a batch job: a console of its own, driven through its controls as an engineer
// would (choose the port, wait for the program, read, edit and update the settings, download),
// watched every 100 ms, and what it found and changed kept for the report.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/console.h"
#include "batch/batch.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "platform/timer.h"

namespace velmora::batch {

// What a card's console runs on, made by the program for each card.
struct CardPlatform {
  virtual ~CardPlatform() = default;
  virtual SerialPort& Port() = 0;
  virtual Timer& TransmitTimer() = 0;
  virtual Timer& DownloadTimer() = 0;
  virtual Timer& WatchTimer() = 0;     // the run's own look at the console, every 100 ms
  virtual Timer& DeferredTimer() = 0;  // runs the console's deferred work from a fresh stack
  // Called once the console exists, before the port is chosen (the program tells its ports
  // where the devices are).
  virtual void Attach(Console&) {}
};

// The program file as checked once for all cards: every card gets these bytes.
struct CheckedProgram {
  std::string path;
  std::string title;  // bare name, as the download's status line shows it
  std::string bytes;
};

// Where a card stands, for the progress line.
enum class Stage {
  kWaiting,     // not started yet
  kConnecting,  // the port is being opened
  kRecognising,
  kReading,  // the first status round
  kWriting,  // settings written, waiting for their read-back
  kDownloading,
  kRestarting,  // after the download: the card comes back and is recognised
  kChecking,    // the first status round after the download
  kDone,
};
std::string_view StageName(Stage stage);

// How long each wait may take, in milliseconds.
struct Timeouts {
  int recognise = 20'000;        // from the port's opening to a recognised program
  int bootLoaderSettle = 3'000;  // a boot loader seen stays one this long before it is believed
  int firstRound = 20'000;       // from recognition to the end of the first status round
  int readBack = 5'000;          // from an update to its read-back
  int stall = 60'000;            // a transfer with no byte handed to the port for this long
};

class CardRun {
 public:
  CardRun(std::string port, const Job& job, const CheckedProgram* program,
          std::unique_ptr<CardPlatform> platform, const Clock& clock, Timeouts timeouts = {});
  ~CardRun();
  CardRun(const CardRun&) = delete;
  CardRun& operator=(const CardRun&) = delete;

  void Start();
  // Stops at once unless a download runs; then once it has ended (the card is never left
  // between its reset and its new program).
  void Stop();

  bool Done() const { return stage_ == Stage::kDone; }
  Stage CurrentStage() const { return stage_; }
  // 0 to 100 while downloading: the part of the program handed to the port.
  int Percent() const;
  const CardReport& Report() const { return report_; }
  Console& ConsoleOf() { return *console_; }
  const Console& ConsoleOf() const { return *console_; }

  // Runs after every change of stage, and once done.
  std::function<void()> onProgress;
  // Runs for each setting that was changed and read back as written.
  std::function<void(const Change&)> onChange;

 private:
  class Parts;
  void Look();
  void Enter(Stage stage);
  void Fail(std::string error);
  void Finish();
  void Recognised();
  void StartWrites();
  void CheckReadBacks();
  bool NeedsDownload() const;
  void StartDownload();
  void Downloaded();
  Snapshot Take() const;
  std::int64_t Elapsed() const;

  std::string port_;
  const Job& job_;
  const CheckedProgram* program_;
  std::unique_ptr<CardPlatform> platform_;
  std::unique_ptr<Parts> parts_;
  std::unique_ptr<Console> console_;
  const Clock& clock_;
  Timeouts timeouts_;
  CardReport report_;
  Stage stage_ = Stage::kWaiting;
  std::int64_t started_ = 0;
  std::int64_t stageStarted_ = 0;
  std::int64_t bootLoaderSince_ = -1;
  bool stopAsked_ = false;
  bool downloadTried_ = false;
  std::int64_t sendingFrom_ = -1;
  std::int64_t sendingTo_ = -1;
  std::int32_t lastSent_ = -1;
  std::int64_t lastSentAt_ = 0;
  bool stalled_ = false;
  Settings written_;
  std::vector<std::string> readBackCommands_;
  std::vector<std::string> boxes_;
};

}  // namespace velmora::batch
