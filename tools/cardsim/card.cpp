#include "cardsim/card.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "cardsim/operator_command.h"

namespace velmora::cardsim {
namespace {

using std::chrono::milliseconds;

constexpr std::string_view kVersionKey = "    Version:  ";
constexpr std::string_view kBootVersion = "Boot Loader 2.04";
constexpr std::string_view kLineCardVersion = "Line Card Application 4.17";
constexpr std::string_view kCpeVersion = "CPE Application 4.17";
// The radio's own firmware: its name holds none of the words that mark the other two.
constexpr std::string_view kFirmwareVersion = "Radio Modem Firmware 3.11";

constexpr const char* kBootHelp[] = {
    "Boot Loader Commands",
    "  help              Lists the commands",
    "  cpu               Shows the processor load",
    "  versions          Shows the software versions",
    "  reset             Restarts the card",
    "  stop              Holds the card in the boot loader (within 2 s of Ready)",
};

constexpr const char* kApplicationHelp[] = {
    "  help              Lists the commands",
    "  versions          Shows the software versions",
    "  cpu               Shows the processor load",
    "  op_status         Shows the link state",
    "  line_state        Shows the hook and ring state of the telephone lines",
    "  rdm ADDR COUNT    Reads COUNT bytes of memory at ADDR (hex)",
    "  ree ADDR          Reads an EEPROM byte (hex)",
    "  wee ADDR VALUE    Writes an EEPROM byte (hex)",
    "  temperature       Shows the board temperature",
    "  battery           Shows the supply voltage",
    "  debug LEVEL       Sets the debug level (hex, 0 = off)",
};

// Output that piles up beyond this is not topped up with flood text or noise: those are made as
// the line takes them, so a flood of ten megabytes never sits in memory.
constexpr std::size_t kGeneratedBacklog = 16 * 1024;

std::string Hex2(unsigned value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

std::string Hex4(unsigned value) {
  return Hex2(value >> 8) + Hex2(value);
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(std::string_view(" \t\0", 3));
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(std::string_view(" \t\0", 3));
  return text.substr(first, last - first + 1);
}

std::optional<unsigned> HexArgument(std::string_view word, unsigned max) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
  if (ec != std::errc{} || end != word.data() + word.size() || value > max) return std::nullopt;
  return value;
}

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

// Trace lines must stay one line each, whatever bytes the console sent.
std::string Printable(std::string_view text) {
  std::string shown;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      shown.push_back(c);
    } else {
      shown += "\\x" + Hex2(byte);
    }
  }
  return shown;
}

}  // namespace

std::string_view ProgramName(Program program) {
  switch (program) {
    case Program::kBootLoader:
      return "boot";
    case Program::kLineCard:
      return "linecard";
    case Program::kCpe:
      return "cpe";
  }
  return "?";
}

Card::Card(CardConfig config, Time now, CardListener* listener)
    : config_(std::move(config)),
      listener_(listener != nullptr ? listener : &no_listener_),
      rng_(config_.seed),
      now_(now),
      temperature_(config_.temperature) {
  if (config_.start == Program::kLineCard || config_.start == Program::kCpe) {
    config_.application = config_.start;
  }
  eeprom_.fill(0xFF);  // erased cells
  eeprom_[0] = 0x1F;
  eeprom_[4] = config_.application == Program::kCpe ? 0x01 : 0x06;
  eeprom_[5] = 0x01;
  for (const auto& [address, value] : config_.eeprom) eeprom_[address] = value;

  if (config_.start == Program::kBootLoader) {
    // Held in the boot loader (as after a transfer): it waits at its prompt.
    program_ = Program::kBootLoader;
    boot_phase_ = BootPhase::kPrompt;
    Log("boot loader waiting at its prompt");
  } else {
    StartApplication();
  }
}

// --- Time -----------------------------------------------------------------------------------

void Card::After(Time delay, std::function<void()> action) {
  timers_.emplace(now_ + delay, std::move(action));
}

void Card::RunDueTimers(Time now) {
  while (!timers_.empty() && timers_.begin()->first <= now) {
    auto node = timers_.extract(timers_.begin());
    // Steps scheduled from a step keep their exact spacing, however late the caller looks.
    now_ = node.key();
    node.mapped()();
  }
  now_ = now;
}

void Card::Advance(Time now) {
  now = std::max(now, now_);  // a clock that steps back must not undo anything
  RunDueTimers(now);
  PourNoise(now);
  if (program_ == Program::kBootLoader) {
    const bool silent_long_enough = now - last_program_byte_ >= kTransferSilence;
    if (boot_phase_ == BootPhase::kReceiving && transfer_started_ && silent_long_enough) {
      ReleaseProgramBytes(std::exchange(held_line_, {}));
      if (boot_phase_ == BootPhase::kReceiving) {
        hex_.Finish();
        EndReception(hex_.Verdict());
        boot_phase_ = BootPhase::kPrompt;
      }
    }
    if (boot_phase_ == BootPhase::kAfterEndRecord && silent_long_enough) {
      ReleaseProgramBytes(std::exchange(held_line_, {}));
      boot_phase_ = BootPhase::kPrompt;
      Log("program transfer over, boot loader at its prompt");
    }
  }
  TopUpFlood();
}

std::optional<Time> Card::NextWake() const {
  std::optional<Time> wake;
  auto consider = [&wake](Time at) {
    if (!wake || at < *wake) wake = at;
  };
  if (!timers_.empty()) consider(timers_.begin()->first);
  if (program_ == Program::kBootLoader &&
      ((boot_phase_ == BootPhase::kReceiving && transfer_started_) ||
       boot_phase_ == BootPhase::kAfterEndRecord)) {
    consider(last_program_byte_ + kTransferSilence);
  }
  if (now_ < noise_until_) consider(now_ + milliseconds(10));
  return wake;
}

// --- Output ---------------------------------------------------------------------------------

std::string_view Card::PendingOutput() const {
  return std::string_view(out_).substr(out_head_);
}

void Card::ConsumeOutput(std::size_t bytes) {
  out_head_ = std::min(out_.size(), out_head_ + bytes);
  if (out_head_ == out_.size()) {
    out_.clear();
    out_head_ = 0;
  } else if (out_head_ > 64 * 1024) {
    out_.erase(0, out_head_);
    out_head_ = 0;
  }
  if (dropped_output_ > 0 && PendingOutput().size() < kMaxQueuedOutput / 2) {
    Log("line accepts text again after " + std::to_string(dropped_output_) + " bytes were lost");
    dropped_output_ = 0;
  }
  TopUpFlood();
}

std::string Card::TakeOutput() {
  std::string taken(PendingOutput());
  ConsumeOutput(taken.size());
  return taken;
}

void Card::DiscardOutput() {
  out_.clear();
  out_head_ = 0;
  if (flood_remaining_ > 0) Log("flood lost: nobody listens");
  flood_remaining_ = 0;
}

void Card::Emit(std::string_view line) {
  std::string bytes(line);
  bytes += "\r\n";
  EmitRaw(bytes);
}

void Card::EmitRaw(std::string_view bytes) {
  if (silent_) return;
  if (PendingOutput().size() + bytes.size() > kMaxQueuedOutput) {
    if (dropped_output_ == 0) Log("nobody takes the card's text: dropping it");
    dropped_output_ += bytes.size();
    return;
  }
  if (now_ < noise_until_) {
    // At the wrong baud rate every character turns to garbage, line ends included.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      char c = static_cast<char>(Random(0, 255));
      if (c == '\r' || c == '\n') c = '~';
      out_.push_back(c);
    }
    return;
  }
  out_.append(bytes);
}

void Card::TopUpFlood() {
  while (flood_remaining_ > 0 && !silent_ && PendingOutput().size() < kGeneratedBacklog) {
    char text[96];
    std::snprintf(text, sizeof text,
                  "dbg: flood %08llu tdma slot %d agc %02d afc %+03d ber 0.0e+00 ok",
                  static_cast<unsigned long long>(flood_lines_++), Random(0, 3), Random(20, 60),
                  Random(-40, 40));
    std::string line(text);
    // The last line is cut (or stretched) so that the flood is exactly as long as asked for;
    // a line is never left too short to hold its own CR LF.
    const auto remaining = static_cast<std::size_t>(flood_remaining_);
    if (remaining <= line.size() + 2 + 2) line.resize(remaining >= 2 ? remaining - 2 : 0, '.');
    Emit(line);
    flood_remaining_ -= static_cast<long long>(line.size() + 2);
    if (flood_remaining_ <= 0) {
      flood_remaining_ = 0;
      Log("flood done");
    }
  }
}

void Card::PourNoise(Time now) {
  const Time until = std::min(now, noise_until_);
  if (until <= noise_poured_until_) return;
  const double seconds = std::chrono::duration<double>(until - noise_poured_until_).count();
  noise_poured_until_ = until;
  noise_carry_ += seconds * config_.noise_bytes_per_second;
  const auto count = static_cast<std::size_t>(noise_carry_);
  noise_carry_ -= static_cast<double>(count);
  if (PendingOutput().size() >= kGeneratedBacklog) return;  // the line is full anyway
  for (std::size_t i = 0; i < count; ++i) {
    char c = static_cast<char>(Random(0, 255));
    if (c == '\r' || c == '\n') c = static_cast<char>(0xFF);
    out_.push_back(c);
  }
  if (noise_poured_until_ >= noise_until_) Log("noise over");
}

// --- Input ----------------------------------------------------------------------------------

bool Card::ReceivingProgram() const {
  return program_ == Program::kBootLoader &&
         (boot_phase_ == BootPhase::kReceiving || boot_phase_ == BootPhase::kAfterEndRecord);
}

void Card::Receive(std::string_view bytes, Time now) {
  Advance(now);
  std::size_t i = 0;
  while (i < bytes.size()) {
    // A wrong baud rate garbles both directions: nothing the console sends makes sense.
    if (now_ < noise_until_) return;
    // The LF of a command's CR LF belongs to that command, also when the command turned the
    // boot loader into a program receiver.
    if (swallow_lf_) {
      swallow_lf_ = false;
      if (bytes[i] == '\n') {
        ++i;
        continue;
      }
    }
    if (!silent_ && ReceivingProgram()) {
      i += ReceiveProgramBytes(bytes.substr(i));
      continue;
    }
    if (!silent_ && program_ == Program::kBootLoader && boot_phase_ == BootPhase::kStarting) {
      return;  // the boot loader is not listening yet: the bytes are lost
    }
    AssembleCommand(bytes[i++]);
  }
}

void Card::AssembleCommand(char c) {
  if (c == '\r' || c == '\n') {
    swallow_lf_ = c == '\r';
    const std::string line = std::exchange(command_, {});
    const bool too_long = std::exchange(command_too_long_, false);
    if (too_long) {
      listener_->CommandReceived(now_, silent_ ? "silent" : ProgramName(program_),
                                 Printable(line) + "...");
      if (!silent_) Emit("Command too long");
      return;
    }
    HandleCommand(line);
    return;
  }
  if (command_.size() < kMaxCommandLength) {
    command_.push_back(c);
  } else {
    command_too_long_ = true;
  }
}

void Card::HandleCommand(std::string_view raw) {
  const std::string_view line = Trim(raw);
  if (line.empty()) return;
  listener_->CommandReceived(now_, silent_ ? "silent" : ProgramName(program_), Printable(line));
  if (silent_) return;

  auto words = SplitWords(line);
  std::string verb(words.front());
  std::transform(verb.begin(), verb.end(), verb.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  words.erase(words.begin());
  if (program_ == Program::kBootLoader) {
    BootLoaderCommand(verb, words);
  } else {
    ApplicationCommand(verb, words);
  }
}

void Card::BootLoaderCommand(std::string_view verb, const std::vector<std::string_view>& args) {
  if (verb == "help") {
    for (const char* line : kBootHelp) Emit(line);
  } else if (verb == "cpu") {
    Emit("Maximum CPU% 3");
  } else if (verb == "versions") {
    Emit(std::string(kVersionKey) + std::string(kBootVersion));
    Emit(std::string(kVersionKey) + std::string(kFirmwareVersion));
  } else if (verb == "reset") {
    Reset();
  } else if (verb == "stop" && args.empty()) {
    BeginReception();
  } else {
    Emit("Unknown command, type help");
  }
}

void Card::ApplicationCommand(std::string_view verb, const std::vector<std::string_view>& args) {
  const bool line_card = program_ == Program::kLineCard;
  auto invalid = [this] { Emit("Invalid argument"); };

  if (verb == "reset") return Reset();
  if (verb == "help") {
    Emit(line_card ? "Line Card Application Commands" : "CPE Application Commands");
    for (const char* line : kApplicationHelp) Emit(line);
    if (line_card) Emit("  cpe_reset #       Resets CPE # (0-3)");
    if (!line_card) Emit("  stop              Stops Application");
    Emit("  reset             Restarts the card");
    return;
  }
  if (verb == "versions") {
    Emit(std::string(kVersionKey) + std::string(kBootVersion));
    Emit(std::string(kVersionKey) + std::string(line_card ? kLineCardVersion : kCpeVersion));
    Emit(std::string(kVersionKey) + std::string(kFirmwareVersion));
    return;
  }
  if (verb == "cpu") {
    Emit("Maximum CPU% " + std::to_string(config_.steady ? 27 : Random(24, 33)));
    return;
  }
  if (application_stopped_) {
    Emit("Application stopped, type reset");
    return;
  }

  if (verb == "op_status") {
    std::string codes;
    const std::size_t count = line_card ? 4 : 1;
    for (std::size_t k = 0; k < count; ++k) {
      codes += "0" + std::to_string(static_cast<int>(subscribers_[k].link));
    }
    Emit("op_status: " + codes);
  } else if (verb == "line_state") {
    // Two digits per telephone line, CPE by CPE, Line 1 before Line 2. Hook: 00 off hook,
    // 01 on hook. Ring: 01 ringing, 00 quiet.
    std::string hooks;
    std::string rings;
    const std::size_t count = line_card ? 4 : 1;
    for (std::size_t k = 0; k < count; ++k) {
      for (std::size_t j = 0; j < 2; ++j) {
        hooks += subscribers_[k].off_hook[j] ? "00" : "01";
        rings += subscribers_[k].ringing[j] ? "01" : "00";
      }
    }
    Emit("hook_state: " + hooks);
    Emit("ring_state: " + rings);
  } else if (verb == "rdm") {
    const auto address = args.size() == 2 ? HexArgument(args[0], 0xFFFF) : std::nullopt;
    const auto count = args.size() == 2 ? HexArgument(args[1], 0x100) : std::nullopt;
    if (!address || !count || *count == 0) return invalid();
    // Sixteen bytes per line, each line headed by its own address.
    for (unsigned offset = 0; offset < *count; offset += 16) {
      const auto at = static_cast<std::uint16_t>(*address + offset);
      Emit(MemoryLine(at, std::min(16u, *count - offset)));
    }
  } else if (verb == "ree") {
    const auto address = args.size() == 1 ? HexArgument(args[0], 0xFF) : std::nullopt;
    if (!address) return invalid();
    Emit(Hex4(*address) + ": " + Hex2(eeprom_[*address]));
  } else if (verb == "wee") {
    const auto address = args.size() == 2 ? HexArgument(args[0], 0xFF) : std::nullopt;
    const auto value = args.size() == 2 ? HexArgument(args[1], 0xFF) : std::nullopt;
    if (!address || !value) return invalid();
    eeprom_[*address] = static_cast<std::uint8_t>(*value);
    Log("EEPROM " + Hex4(*address) + " := " + Hex2(*value));
    Emit(Hex4(*address) + ": " + Hex2(eeprom_[*address]));  // read back after writing
  } else if (verb == "temperature") {
    if (!config_.steady && Random(0, 7) == 0) {
      temperature_ = std::clamp(temperature_ + (Random(0, 1) != 0 ? 1 : -1),
                                config_.temperature - 2, config_.temperature + 2);
    }
    Emit("temperature: " + Hex4(static_cast<std::uint16_t>(temperature_)));
  } else if (verb == "battery") {
    const int tenths = config_.steady ? 138 : Random(137, 139);
    Emit("Battery: " + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " V");
  } else if (verb == "debug") {
    const auto level = args.size() == 1 ? HexArgument(args[0], 0xFF) : std::nullopt;
    if (!level) return invalid();
    debug_level_ = static_cast<std::uint8_t>(*level);
    Emit("Debug level " + Hex2(debug_level_));
    ScheduleDebugText();
  } else if (verb == "cpe_reset" && line_card) {
    const auto cpe = args.size() == 1 ? HexArgument(args[0], 3) : std::nullopt;
    if (!cpe) return invalid();
    if (subscribers_[*cpe].link == LinkState::kAcquisition) {
      Emit("CPE " + std::to_string(*cpe) + " not linked");
    } else {
      // The CPE restarts and comes back a few seconds later.
      LoseLink(*cpe, "Commanded Reset", std::chrono::seconds(3));
    }
  } else if (verb == "stop" && !line_card && args.empty()) {
    application_stopped_ = true;
    ++subscribers_[0].generation;
    timers_.clear();
    ++debug_generation_;
    Emit("Application Stopped");
    Log("CPE application stopped");
  } else {
    Emit("Unknown command, type help");
  }
}

// --- The boot loader ------------------------------------------------------------------------

void Card::Reset() {
  // The processor restarts: whatever was queued for the line and every pending step is lost.
  timers_.clear();
  out_.clear();
  out_head_ = 0;
  flood_remaining_ = 0;
  command_.clear();
  command_too_long_ = false;
  held_line_.clear();
  debug_level_ = 0;
  ++debug_generation_;
  application_stopped_ = false;
  for (auto& subscriber : subscribers_) ++subscriber.generation;

  program_ = Program::kBootLoader;
  boot_phase_ = BootPhase::kStarting;
  Emit("Boot Loader Initialized");
  Log("reset: Boot Loader Initialized");
  After(kReadyDelay, [this] {
    Emit("Boot Loader Ready");
    boot_phase_ = BootPhase::kAwaitingStop;
    After(kStopWindow, [this] {
      if (program_ == Program::kBootLoader && boot_phase_ == BootPhase::kAwaitingStop) {
        StartApplication();
      }
    });
  });
}

void Card::StartApplication() {
  program_ = config_.application;
  boot_phase_ = BootPhase::kPrompt;
  application_stopped_ = false;
  debug_level_ = 0;
  ++debug_generation_;
  for (std::size_t k = 0; k < subscribers_.size(); ++k) {
    Subscriber& s = subscribers_[k];
    s.present = program_ == Program::kCpe ? k == 0 : config_.cpes_present[k];
    s.link = LinkState::kAcquisition;
    s.rssi = config_.rssi[k];
    s.sfd_losses = 0;
    s.off_hook = {};
    s.ringing = {};
    ++s.generation;
  }
  if (program_ == Program::kLineCard) {
    Emit("Line Card Application Initialized");
    Log("Line Card Application Initialized");
    // The CPEs answer one after another, as the line card calls them up.
    Time ranging_at = milliseconds(1000);
    for (std::size_t k = 0; k < subscribers_.size(); ++k) {
      if (!subscribers_[k].present) continue;
      BeginAcquisition(k, ranging_at);
      ranging_at += milliseconds(700);
    }
  } else {
    Emit("CPE Application Initialized");
    Log("CPE Application Initialized");
    const auto generation = subscribers_[0].generation;
    After(milliseconds(500), [this, generation] {
      if (subscribers_[0].generation == generation) BeginAcquisition(0, milliseconds(1500));
    });
  }
  ScheduleSpontaneous();
}

void Card::BeginReception() {
  Emit("Boot Loader Stopped");
  Log("Boot Loader Stopped: waiting for the program file");
  boot_phase_ = BootPhase::kReceiving;
  hex_ = IntelHexChecker{};
  transfer_started_ = false;
  held_line_.clear();
  line_released_ = false;
  listener_->ProgramBegins();
}

std::size_t Card::ReceiveProgramBytes(std::string_view bytes) {
  static constexpr std::string_view kReset = "reset";
  transfer_started_ = true;
  last_program_byte_ = now_;
  std::string release;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r' || c == '\n') {
      if (!line_released_ && held_line_ == kReset) {
        // The console gave up on the transfer and restarts the card: this line is a command.
        held_line_.clear();
        ReleaseProgramBytes(release);
        listener_->CommandReceived(now_, ProgramName(program_), kReset);
        if (boot_phase_ == BootPhase::kReceiving) {
          EndReception("Program error: transfer broken off by reset after " +
                       std::to_string(hex_.Records()) + " records");
        }
        swallow_lf_ = c == '\r';
        Reset();
        return i + 1;
      }
      release += std::exchange(held_line_, {});
      release.push_back(c);
      line_released_ = false;
    } else if (!line_released_ && held_line_.size() < kReset.size() &&
               kReset[held_line_.size()] == c) {
      held_line_.push_back(c);  // may still be "reset": hold it back from the file
    } else {
      release += std::exchange(held_line_, {});
      release.push_back(c);
      line_released_ = true;
    }
  }
  ReleaseProgramBytes(release);
  return bytes.size();
}

void Card::ReleaseProgramBytes(std::string_view bytes) {
  if (bytes.empty()) return;
  listener_->ProgramBytes(bytes);
  if (boot_phase_ != BootPhase::kReceiving) return;
  hex_.Feed(bytes);
  if (hex_.EndSeen()) {
    EndReception(hex_.Verdict());
    // Bytes that follow the end record (a last block filled up, a final line end) still belong
    // to the transfer; they go to the file until the line falls silent.
    boot_phase_ = BootPhase::kAfterEndRecord;
  }
}

void Card::EndReception(const std::string& verdict) {
  Emit(verdict);
  Log(verdict);
  listener_->ProgramEnds(verdict);
}

// --- Links and lines ------------------------------------------------------------------------

std::string Card::Prefix(std::size_t cpe) const {
  return program_ == Program::kLineCard ? "Subscriber " + Hex2(static_cast<unsigned>(cpe)) + " "
                                        : std::string{};
}

void Card::BeginAcquisition(std::size_t cpe, Time ranging_after) {
  Subscriber& s = subscribers_[cpe];
  s.link = LinkState::kAcquisition;
  const auto generation = ++s.generation;
  // Only the CPE announces it; the line card has nothing to say about a CPE it cannot hear.
  if (program_ == Program::kCpe) {
    Emit("Starting Acquisition");
    Log("Starting Acquisition");
  }
  After(ranging_after, [this, cpe, generation] {
    if (subscribers_[cpe].generation == generation) BeginRanging(cpe);
  });
}

void Card::BeginRanging(std::size_t cpe) {
  Subscriber& s = subscribers_[cpe];
  s.link = LinkState::kRanging;
  const auto generation = ++s.generation;
  Emit(Prefix(cpe) + "Starting Ranging");
  Log(Prefix(cpe) + "Starting Ranging");
  After(milliseconds(1500), [this, cpe, generation] {
    if (subscribers_[cpe].generation == generation) CompleteRanging(cpe);
  });
}

void Card::CompleteRanging(std::size_t cpe) {
  Subscriber& s = subscribers_[cpe];
  s.link = LinkState::kLocked;
  s.sfd_losses = 0;
  ++s.generation;
  Emit(Prefix(cpe) + "Ranging Completed Successfully");
  Log(Prefix(cpe) + "Ranging Completed Successfully");
  ReportSfd(cpe);  // a fresh link starts its frame-sync count at zero, and says so
}

void Card::LoseLink(std::size_t cpe, std::string_view why, std::optional<Time> reacquire_after) {
  Subscriber& s = subscribers_[cpe];
  s.link = LinkState::kAcquisition;
  const auto generation = ++s.generation;
  s.ringing = {};
  // The line card forgets what it heard from the CPE; the CPE's handsets stay where they are.
  if (program_ == Program::kLineCard) s.off_hook = {};
  Emit(Prefix(cpe) + std::string(why));
  Log(Prefix(cpe) + std::string(why));
  if (program_ == Program::kCpe) Emit("Starting Acquisition");
  if (reacquire_after) {
    After(*reacquire_after, [this, cpe, generation] {
      if (subscribers_[cpe].generation == generation) BeginRanging(cpe);
    });
  }
}

void Card::ReportSfd(std::size_t cpe) {
  Emit(Prefix(cpe) + "SFD Loss Count: " + Hex4(subscribers_[cpe].sfd_losses));
}

void Card::SetRinging(std::size_t cpe, std::size_t line, bool ringing) {
  Subscriber& s = subscribers_[cpe];
  if (s.ringing[line] == ringing) return;
  s.ringing[line] = ringing;
  const std::string event = Prefix(cpe) + "Channel " + Hex2(static_cast<unsigned>(line)) +
                            (ringing ? " RING ON" : " RING OFF");
  Emit(event);
  Log(event);
}

void Card::SetOffHook(std::size_t cpe, std::size_t line, bool off_hook) {
  Subscriber& s = subscribers_[cpe];
  if (off_hook) SetRinging(cpe, line, false);  // answering stops the bell
  if (s.off_hook[line] == off_hook) return;
  s.off_hook[line] = off_hook;
  const std::string event = Prefix(cpe) + "Channel " + Hex2(static_cast<unsigned>(line)) +
                            (off_hook ? " OFF HOOK" : " ON HOOK");
  Emit(event);
  Log(event);
}

void Card::ScheduleSpontaneous() {
  if (config_.quiet) return;
  After(std::chrono::seconds(Random(15, 45)), [this] {
    SpontaneousEvent();
    ScheduleSpontaneous();
  });
}

void Card::SpontaneousEvent() {
  std::vector<std::size_t> locked;
  for (std::size_t k = 0; k < subscribers_.size(); ++k) {
    if (subscribers_[k].present && subscribers_[k].link == LinkState::kLocked) locked.push_back(k);
  }
  if (locked.empty()) return;
  const std::size_t cpe =
      locked[static_cast<std::size_t>(Random(0, static_cast<int>(locked.size()) - 1))];
  Subscriber& s = subscribers_[cpe];

  if (Random(0, 99) < 60) {
    // Now and then a frame is missed; the card reports its running count.
    s.sfd_losses = static_cast<std::uint16_t>(std::min(0xFFFF, s.sfd_losses + Random(1, 2)));
    ReportSfd(cpe);
    return;
  }
  // A call: the bell rings for a while; half the calls are answered, talked and hung up.
  const std::size_t line = static_cast<std::size_t>(Random(0, 1));
  if (s.off_hook[line] || s.ringing[line]) return;
  SetRinging(cpe, line, true);
  const auto generation = s.generation;
  const bool answered = Random(0, 1) == 1;
  After(std::chrono::seconds(Random(4, 8)), [this, cpe, line, generation, answered] {
    Subscriber& sub = subscribers_[cpe];
    if (sub.generation != generation || !sub.ringing[line]) return;
    if (!answered) return SetRinging(cpe, line, false);
    SetOffHook(cpe, line, true);
    After(std::chrono::seconds(Random(8, 20)), [this, cpe, line, generation] {
      if (subscribers_[cpe].generation == generation) SetOffHook(cpe, line, false);
    });
  });
}

void Card::ScheduleDebugText() {
  const auto generation = ++debug_generation_;
  if (debug_level_ != 0) DebugTick(generation, false);
}

void Card::DebugTick(std::uint64_t generation, bool speak) {
  if (generation != debug_generation_ || debug_level_ == 0) return;
  if (speak) Emit(DebugLine());
  // Level 80 (the console's logging level) talks a lot, lower levels now and then.
  const int base_ms = (debug_level_ & 0x80) != 0 ? 250 : 2000;
  After(milliseconds(Random(base_ms * 3 / 4, base_ms * 5 / 4)),
        [this, generation] { DebugTick(generation, true); });
}

// --- Values ---------------------------------------------------------------------------------

std::uint8_t Card::SignalStrength(std::size_t cpe) {
  const Subscriber& s = subscribers_[cpe];
  if (s.link == LinkState::kAcquisition || s.rssi == 0) return 0;
  int value = s.rssi;
  if (s.link == LinkState::kRanging) value = value * 3 / 4;  // still adjusting its power
  if (!config_.steady) value += Random(-2, 2);
  return static_cast<std::uint8_t>(std::clamp(value, 1, 255));
}

std::uint8_t Card::MemoryByte(std::uint16_t address) {
  if (address >= 0xFF28 && address <= 0xFF2B) {
    const std::size_t k = address - 0xFF28u;
    if (program_ == Program::kCpe && k != 0) return 0;
    return SignalStrength(k);
  }
  if (address == 0xFF12) return config_.radio_settings;
  if (address > 0xFF12 && address < 0xFF1A) return 0;
  // Elsewhere: some fixed content, the same at every read.
  return static_cast<std::uint8_t>((address * 0x9E37u) >> 7);
}

std::string Card::MemoryLine(std::uint16_t address, std::size_t count) {
  std::string line = Hex4(address) + ": ";
  for (std::size_t i = 0; i < count; ++i) {
    line += Hex2(MemoryByte(static_cast<std::uint16_t>(address + i)));
    line += ' ';
  }
  return line;
}

std::string Card::DebugLine() {
  char text[96];
  switch (Random(0, 3)) {
    case 0:
      std::snprintf(text, sizeof text, "dbg: frame %05d slot %d agc %02d afc %+03d",
                    Random(0, 65535), Random(0, 3), Random(20, 60), Random(-40, 40));
      break;
    case 1:
      std::snprintf(text, sizeof text, "dbg: rx queue %d, tx queue %d, free buffers %d",
                    Random(0, 3), Random(0, 5), Random(40, 64));
      break;
    case 2:
      std::snprintf(text, sizeof text, "dbg: pcm highway sync ok, slips %d", Random(0, 2));
      break;
    default:
      std::snprintf(text, sizeof text, "dbg: sub %d tx power %+d dB, ber %d.%de-6", Random(0, 3),
                    Random(-6, 6), Random(0, 9), Random(0, 9));
      break;
  }
  return text;
}

int Card::Random(int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(rng_);
}

void Card::Log(std::string_view text) {
  listener_->Status(now_, text);
}

// --- The operator ---------------------------------------------------------------------------

OperatorResult Card::Apply(const OperatorCommand& command, Time now) {
  Advance(now);
  auto fail = [](std::string why) { return OperatorResult{false, std::move(why)}; };
  const bool line_card = program_ == Program::kLineCard;

  // The CPE a link or line command is about, or why there is none.
  std::size_t cpe = 0;
  auto target = [&]() -> std::optional<std::string> {
    if (program_ == Program::kBootLoader) return "the card runs its boot loader";
    if (application_stopped_) return "the application is stopped";
    if (!line_card) return std::nullopt;
    if (command.cpe < 0) return "which CPE? (0 to 3)";
    cpe = static_cast<std::size_t>(command.cpe);
    return std::nullopt;
  };

  switch (command.verb) {
    case OperatorVerb::kRing:
    case OperatorVerb::kHook: {
      if (auto why = target()) return fail(*why);
      const auto line = static_cast<std::size_t>(command.line - 1);
      const Subscriber& s = subscribers_[cpe];
      // Over the air the line card hears a CPE's lines only while it is locked, and ringing
      // always comes over the air; a CPE's own handsets it always sees.
      const bool needs_link = line_card || command.verb == OperatorVerb::kRing;
      if (needs_link && s.link != LinkState::kLocked) {
        return fail(line_card ? "CPE " + std::to_string(cpe) + " is not locked" : "no link");
      }
      if (command.verb == OperatorVerb::kRing) {
        if (command.flag && s.off_hook[line]) return fail("the line is off hook");
        SetRinging(cpe, line, command.flag);
      } else {
        SetOffHook(cpe, line, command.flag);
      }
      return {};
    }
    case OperatorVerb::kDrop: {
      if (auto why = target()) return fail(*why);
      if (subscribers_[cpe].link == LinkState::kAcquisition) return fail("no link to lose");
      std::optional<Time> back;
      if (command.seconds > 0)
        back = Time(static_cast<Time::rep>(std::llround(command.seconds * 1e6)));
      LoseLink(cpe, "Communications Lost", back);
      return {true, back ? "link back in " + SecondsText(command.seconds) + " s"
                         : "link stays down until \"lock\""};
    }
    case OperatorVerb::kLock: {
      if (auto why = target()) return fail(*why);
      Subscriber& s = subscribers_[cpe];
      s.present = true;
      if (s.link == LinkState::kLocked) return fail("already locked");
      if (s.link == LinkState::kRanging) return fail("already ranging");
      BeginRanging(cpe);
      return {};
    }
    case OperatorVerb::kCommandedReset: {
      if (auto why = target()) return fail(*why);
      if (subscribers_[cpe].link == LinkState::kAcquisition)
        return fail("no link: nothing to reset");
      LoseLink(cpe, "Commanded Reset", std::chrono::seconds(3));
      return {};
    }
    case OperatorVerb::kSfd: {
      if (auto why = target()) return fail(*why);
      if (subscribers_[cpe].link != LinkState::kLocked) return fail("not locked");
      subscribers_[cpe].sfd_losses = static_cast<std::uint16_t>(command.number);
      ReportSfd(cpe);
      return {};
    }
    case OperatorVerb::kRssi: {
      const bool cpe_card = config_.application == Program::kCpe;
      if (command.cpe < 0 && !cpe_card) return fail("which CPE? (0 to 3)");
      const std::size_t k = cpe_card ? 0 : static_cast<std::size_t>(command.cpe);
      config_.rssi[k] = static_cast<std::uint8_t>(command.number);
      subscribers_[k].rssi = config_.rssi[k];
      return {true, "signal strength " + std::to_string(command.number)};
    }
    case OperatorVerb::kTemperature:
      config_.temperature = static_cast<int>(command.number);
      temperature_ = config_.temperature;
      return {true, "temperature " + std::to_string(command.number) + " C"};
    case OperatorVerb::kSay:
      Emit(command.text);
      return {};
    case OperatorVerb::kFlood:
      flood_remaining_ += command.number;
      TopUpFlood();
      return {true, "flooding " + std::to_string(command.number) + " bytes"};
    case OperatorVerb::kNoise:
      noise_poured_until_ = now_;
      noise_until_ = now_ + Time(static_cast<Time::rep>(std::llround(command.seconds * 1e6)));
      noise_carry_ = 0.0;
      return {true, "noise for " + SecondsText(command.seconds) + " s"};
    case OperatorVerb::kSilent:
      silent_ = command.flag;
      return {true, silent_ ? "card silent" : "card talks again"};
    case OperatorVerb::kReset:
      Reset();
      return {};
    case OperatorVerb::kStatus:
      return {true, StatusReport()};
    case OperatorVerb::kUnplug:
    case OperatorVerb::kReplug:
    case OperatorVerb::kHelp:
    case OperatorVerb::kQuit:
      break;
  }
  return fail("not a command for the card");
}

std::string Card::StatusReport() const {
  static constexpr const char* kLinkNames[] = {"acquisition", "ranging", "locked"};
  std::ostringstream report;
  report << "program " << ProgramName(program_);
  if (program_ == Program::kBootLoader) {
    static constexpr const char* kPhases[] = {"at its prompt", "starting", "waiting for stop",
                                              "receiving a program", "finishing a program"};
    report << " (" << kPhases[static_cast<int>(boot_phase_)] << ")";
  } else {
    if (application_stopped_) report << " (stopped)";
    const std::size_t count = program_ == Program::kLineCard ? 4 : 1;
    for (std::size_t k = 0; k < count; ++k) {
      const Subscriber& s = subscribers_[k];
      report << "\n  " << (program_ == Program::kLineCard ? "CPE " + std::to_string(k) : "link")
             << ": " << kLinkNames[static_cast<int>(s.link)] << ", signal " << int{s.rssi}
             << ", SFD losses " << s.sfd_losses;
      for (std::size_t j = 0; j < 2; ++j) {
        report << ", line " << j + 1 << (s.off_hook[j] ? " off hook" : " on hook")
               << (s.ringing[j] ? " ringing" : "");
      }
    }
    report << "\n  debug level " << Hex2(debug_level_);
  }
  report << "\n  EEPROM 0000: " << Hex2(eeprom_[0]) << ", 0004: " << Hex2(eeprom_[4])
         << ", 0005: " << Hex2(eeprom_[5]) << "; temperature " << temperature_ << " C";
  if (silent_) report << "; silent";
  return report.str();
}

}  // namespace velmora::cardsim
