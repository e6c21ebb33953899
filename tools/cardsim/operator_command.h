// What the person running the simulator (or its event script) can make the card do.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cardsim/line_pacer.h"

namespace velmora::cardsim {

// The blank- or tab-separated words of a command line, for the card and the operator alike.
std::vector<std::string_view> SplitWords(std::string_view text);

enum class OperatorVerb {
  kRing,            // ring CPE LINE [on|off]
  kHook,            // hook CPE LINE [off|on]
  kDrop,            // drop CPE [SECONDS]
  kLock,            // lock CPE
  kCommandedReset,  // creset CPE
  kSfd,             // sfd CPE COUNT
  kRssi,            // rssi CPE VALUE
  kTemperature,     // temp DEGREES
  kSay,             // say TEXT
  kFlood,           // flood BYTES
  kNoise,           // noise SECONDS
  kSilent,          // silent on|off
  kUnplug,
  kReplug,
  kReset,
  kStatus,
  kHelp,
  kQuit,
};

struct OperatorCommand {
  OperatorVerb verb = OperatorVerb::kStatus;
  // 0 to 3, or -1 when left out (the CPE application only has itself).
  int cpe = -1;
  // Telephone line 1 or 2, as the console's fields name them.
  int line = 1;
  // ring: ringing; hook: off hook; silent: silent.
  bool flag = false;
  // drop: re-acquire after this many seconds (0: stay down until "lock"); noise: duration.
  double seconds = 0.0;
  // sfd: count; rssi: value; temp: degrees; flood: bytes.
  long number = 0;
  // say: the line to send.
  std::string text;
};

// Parses one command; on failure returns nothing and says why in `error`.
std::optional<OperatorCommand> ParseOperatorCommand(std::string_view text, std::string& error);

// The commands, one per line, for "help" on the simulator's own input and for --help.
std::string OperatorCommandHelp();

struct ScriptEntry {
  Time at{0};
  OperatorCommand command;
  std::string text;  // the command as written, for the status log
};

// An event script: one timed command per line ("2.5 ring 2 1 on": seconds since start, then a
// command); blank lines and lines starting with '#' are skipped. The entries come back in time
// order (lines with the same time keep their order). A bad line fails the whole script, with its
// line number in `error`, so a typo is found at start and not minutes into a demo.
std::optional<std::vector<ScriptEntry>> ParseScript(std::string_view text, std::string& error);

}  // namespace velmora::cardsim
