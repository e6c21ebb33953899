// The simulated radio card: its three programs, their commands, replies and events. No I/O:
// bytes from the console go in, the card's bytes come out, and time is whatever the caller says.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cardsim/intel_hex.h"
#include "cardsim/line_pacer.h"
#include "cardsim/operator_command.h"

namespace velmora::cardsim {

enum class Program { kBootLoader, kLineCard, kCpe };

// "boot", "linecard", "cpe": the names the command line and the trace use.
std::string_view ProgramName(Program program);

// The codes "op_status" reports.
enum class LinkState : std::uint8_t { kAcquisition = 0, kRanging = 1, kLocked = 2 };

struct CardConfig {
  // What runs when the simulator starts. The boot loader then waits at its prompt; an
  // application starts with its banner and brings its links up.
  Program start = Program::kLineCard;
  // What the boot loader starts when nobody stops it.
  Program application = Program::kLineCard;
  std::uint32_t seed = 1;
  // No spontaneous events: links come up once and stay, no SFD reports, no calls.
  bool quiet = false;
  // Values do not wander: signal strength, temperature, CPU load and battery read as set.
  bool steady = false;
  // Line card: the CPEs that are out there and come up.
  std::array<bool, 4> cpes_present{true, true, true, true};
  // Signal strength of each CPE while locked (the CPE application uses the first).
  std::array<std::uint8_t, 4> rssi{0x1A, 0x0C, 0x16, 0x1F};
  // First byte at FF12, set by switches on the card: bits 4-5 time slot, bits 2-3 CDMA code,
  // bits 0-1 RF channel.
  std::uint8_t radio_settings = 0x2D;
  int temperature = 25;
  // EEPROM bytes that differ from the application's defaults.
  std::vector<std::pair<std::uint8_t, std::uint8_t>> eeprom;
  // How fast garbage pours in during "noise": a line's worth.
  double noise_bytes_per_second = 5760.0;
};

// What the card does besides talking on its line, for the simulator's files and log.
class CardListener {
 public:
  virtual ~CardListener() = default;
  // A complete command line reached the card; `who` is the program name, or "silent".
  virtual void CommandReceived(Time /*at*/, std::string_view /*who*/,
                               std::string_view /*command*/) {}
  // "Boot Loader Stopped" was sent: what follows is a new program file.
  virtual void ProgramBegins() {}
  // Bytes of the program file, exactly as received, as they arrive.
  virtual void ProgramBytes(std::string_view /*bytes*/) {}
  // The boot loader judged the file (also when reception broke off).
  virtual void ProgramEnds(std::string_view /*verdict*/) {}
  // Something worth a line in the simulator's log.
  virtual void Status(Time /*at*/, std::string_view /*text*/) {}
};

struct OperatorResult {
  bool ok = true;
  std::string message;
};

class Card {
 public:
  // The boot loader's rhythm after a reset, and how long it listens for "stop".
  static constexpr Time kReadyDelay = std::chrono::milliseconds(300);
  static constexpr Time kStopWindow = std::chrono::milliseconds(2000);
  // A program transfer that falls silent this long is over.
  static constexpr Time kTransferSilence = std::chrono::milliseconds(1000);
  // A command longer than this is garbage, not a command.
  static constexpr std::size_t kMaxCommandLength = 256;
  // Card text beyond this, not yet sent, is dropped: a card does not hold a backlog forever.
  static constexpr std::size_t kMaxQueuedOutput = 1 << 20;

  Card(CardConfig config, Time now, CardListener* listener = nullptr);

  // Bytes from the console, in pieces of any size.
  void Receive(std::string_view bytes, Time now);
  // Lets time pass: start-up steps, link events, debug text, the transfer's silence.
  void Advance(Time now);
  // The next moment at which Advance has something to do.
  std::optional<Time> NextWake() const;

  // The card's bytes not yet on the line. Consume what was sent.
  std::string_view PendingOutput() const;
  void ConsumeOutput(std::size_t bytes);
  std::string TakeOutput();
  // Nobody listens on the line: all pending text is lost, and so is the rest of a flood.
  void DiscardOutput();
  // True while a flood runs: its text ignores the line's speed limit.
  bool Unpaced() const { return flood_remaining_ > 0; }

  // The operator's commands that act on the card itself (not unplug, replug, help or quit).
  OperatorResult Apply(const OperatorCommand& command, Time now);

  Program CurrentProgram() const { return program_; }
  std::string StatusReport() const;

 private:
  enum class BootPhase {
    kPrompt,         // answering commands, nothing pending
    kStarting,       // "Boot Loader Initialized" sent, not listening yet
    kAwaitingStop,   // "Boot Loader Ready" sent; "stop" keeps the boot loader
    kReceiving,      // "Boot Loader Stopped": everything is the program file
    kAfterEndRecord  // verdict given; trailing bytes of the transfer still land in the file
  };

  struct Subscriber {
    bool present = false;
    LinkState link = LinkState::kAcquisition;
    std::uint8_t rssi = 0;
    std::uint16_t sfd_losses = 0;
    std::array<bool, 2> off_hook{};
    std::array<bool, 2> ringing{};
    // Bumped whenever the link changes, so that steps scheduled for an older link do nothing.
    std::uint64_t generation = 0;
  };

  // Time-driven work. Every timer belongs to the running program: a reset clears them all.
  void After(Time delay, std::function<void()> action);
  void RunDueTimers(Time now);

  void Emit(std::string_view line);
  void EmitRaw(std::string_view bytes);
  void TopUpFlood();
  void PourNoise(Time now);

  void AssembleCommand(char c);
  void HandleCommand(std::string_view line);
  void BootLoaderCommand(std::string_view verb, const std::vector<std::string_view>& args);
  void ApplicationCommand(std::string_view verb, const std::vector<std::string_view>& args);

  // Receiving a program file, or finishing one.
  bool ReceivingProgram() const;
  void Reset();
  void StartApplication();
  void BeginReception();
  std::size_t ReceiveProgramBytes(std::string_view bytes);
  void ReleaseProgramBytes(std::string_view bytes);
  void EndReception(const std::string& verdict);

  // Link life of one CPE (index 0 is the CPE application itself).
  void BeginAcquisition(std::size_t cpe, Time ranging_after);
  void BeginRanging(std::size_t cpe);
  void CompleteRanging(std::size_t cpe);
  void LoseLink(std::size_t cpe, std::string_view why, std::optional<Time> reacquire_after);
  void ReportSfd(std::size_t cpe);
  void SetRinging(std::size_t cpe, std::size_t line, bool ringing);
  void SetOffHook(std::size_t cpe, std::size_t line, bool off_hook);
  void ScheduleSpontaneous();
  void SpontaneousEvent();
  void ScheduleDebugText();
  void DebugTick(std::uint64_t generation, bool speak);

  std::string Prefix(std::size_t cpe) const;  // "Subscriber 02 " on the line card, else ""
  std::uint8_t SignalStrength(std::size_t cpe);
  std::string MemoryLine(std::uint16_t address, std::size_t count);
  std::uint8_t MemoryByte(std::uint16_t address);
  std::string DebugLine();
  int Random(int low, int high);
  void Log(std::string_view text);

  CardConfig config_;
  CardListener* listener_;
  CardListener no_listener_;
  std::mt19937 rng_;
  Time now_{0};

  Program program_ = Program::kBootLoader;
  BootPhase boot_phase_ = BootPhase::kPrompt;
  bool application_stopped_ = false;  // the CPE application's "stop"
  std::uint8_t debug_level_ = 0;
  std::uint64_t debug_generation_ = 0;
  std::array<Subscriber, 4> subscribers_{};
  std::array<std::uint8_t, 256> eeprom_{};
  int temperature_ = 25;

  std::multimap<Time, std::function<void()>> timers_;

  std::string command_;
  bool command_too_long_ = false;
  bool swallow_lf_ = false;

  IntelHexChecker hex_;
  bool transfer_started_ = false;
  Time last_program_byte_{0};
  std::string held_line_;  // a line that may yet turn out to be "reset", not the file's
  bool line_released_ = false;

  std::string out_;
  std::size_t out_head_ = 0;
  std::size_t dropped_output_ = 0;
  long long flood_remaining_ = 0;
  std::uint64_t flood_lines_ = 0;
  bool silent_ = false;
  Time noise_until_{0};
  Time noise_poured_until_{0};
  double noise_carry_ = 0.0;
};

}  // namespace velmora::cardsim
