#include "cardsim/operator_command.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace velmora::cardsim {
namespace {

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::optional<long> Integer(std::string_view word, long low, long high) {
  long value = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (ec != std::errc{} || end != word.data() + word.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> Seconds(std::string_view word) {
  double value = 0.0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (ec != std::errc{} || end != word.data() + word.size() || !std::isfinite(value) ||
      value < 0.0 || value > 86400.0) {
    return std::nullopt;
  }
  return value;
}

struct Parser {
  std::vector<std::string_view> args;
  std::string& error;

  bool Fail(const std::string& why) {
    error = why;
    return false;
  }

  // The CPE may be left out where the rest of the arguments still say what is meant; the line
  // card then refuses the command, the CPE application does not need it.
  bool TakeCpe(OperatorCommand& command, std::size_t args_without_cpe) {
    if (args.size() == args_without_cpe) return true;
    if (args.size() != args_without_cpe + 1) return Fail("wrong number of arguments");
    const auto cpe = Integer(args.front(), 0, 3);
    if (!cpe) return Fail("CPE must be 0 to 3");
    command.cpe = static_cast<int>(*cpe);
    args.erase(args.begin());
    return true;
  }

  // A trailing on/off word, when there is one.
  std::optional<bool> TakeSwitch(std::string_view on_word, std::string_view off_word) {
    if (args.empty()) return std::nullopt;
    if (args.back() == on_word || args.back() == off_word) {
      const bool on = args.back() == on_word;
      args.pop_back();
      return on;
    }
    return std::nullopt;
  }

  bool TakeLine(OperatorCommand& command) {
    const auto line = Integer(args.back(), 1, 2);
    if (!line) return Fail("LINE must be 1 or 2");
    command.line = static_cast<int>(*line);
    args.pop_back();
    return true;
  }
};

}  // namespace

std::optional<OperatorCommand> ParseOperatorCommand(std::string_view text, std::string& error) {
  const auto words = SplitWords(Trimmed(text));
  error.clear();
  if (words.empty()) {
    error = "empty command";
    return std::nullopt;
  }
  const std::string_view verb = words.front();
  Parser p{std::vector<std::string_view>(words.begin() + 1, words.end()), error};
  OperatorCommand command;
  bool ok = true;

  if (verb == "ring" || verb == "hook") {
    command.verb = verb == "ring" ? OperatorVerb::kRing : OperatorVerb::kHook;
    // "ring" defaults to ringing, "hook" to lifting the handset: the event one usually wants.
    const auto state = verb == "ring" ? p.TakeSwitch("on", "off") : p.TakeSwitch("off", "on");
    command.flag = state.value_or(true);
    if (p.args.empty()) {
      ok = p.Fail("LINE missing");
    } else {
      ok = p.TakeLine(command) && p.TakeCpe(command, 0);
    }
  } else if (verb == "drop") {
    command.verb = OperatorVerb::kDrop;
    if (p.args.size() == 2) {
      const auto seconds = Seconds(p.args.back());
      ok = seconds.has_value() || p.Fail("SECONDS must be a number of seconds");
      command.seconds = seconds.value_or(0.0);
      p.args.pop_back();
    }
    ok = ok && p.TakeCpe(command, 0);
  } else if (verb == "lock" || verb == "creset") {
    command.verb = verb == "lock" ? OperatorVerb::kLock : OperatorVerb::kCommandedReset;
    ok = p.TakeCpe(command, 0);
  } else if (verb == "sfd" || verb == "rssi") {
    command.verb = verb == "sfd" ? OperatorVerb::kSfd : OperatorVerb::kRssi;
    const auto value =
        p.args.empty() ? std::nullopt : Integer(p.args.back(), 0, verb == "sfd" ? 65535 : 255);
    ok = value.has_value() ||
         p.Fail(verb == "sfd" ? "COUNT must be 0 to 65535" : "VALUE must be 0 to 255");
    if (ok) {
      command.number = *value;
      p.args.pop_back();
      ok = p.TakeCpe(command, 0);
    }
  } else if (verb == "temp") {
    command.verb = OperatorVerb::kTemperature;
    const auto value = p.args.size() == 1 ? Integer(p.args[0], -40, 125) : std::nullopt;
    ok = value.has_value() || p.Fail("usage: temp DEGREES (-40 to 125)");
    command.number = value.value_or(0);
    p.args.clear();
  } else if (verb == "say") {
    command.verb = OperatorVerb::kSay;
    const std::string_view rest = Trimmed(text);
    command.text = std::string(Trimmed(rest.substr(std::min(rest.size(), verb.size()))));
  } else if (verb == "flood") {
    command.verb = OperatorVerb::kFlood;
    const auto value = p.args.size() == 1 ? Integer(p.args[0], 16, 1'000'000'000) : std::nullopt;
    ok = value.has_value() || p.Fail("usage: flood BYTES (16 to 1000000000)");
    command.number = value.value_or(0);
    p.args.clear();
  } else if (verb == "noise") {
    command.verb = OperatorVerb::kNoise;
    const auto value = p.args.size() == 1 ? Seconds(p.args[0]) : std::nullopt;
    ok = (value && *value > 0.0) || p.Fail("usage: noise SECONDS");
    command.seconds = value.value_or(0.0);
    p.args.clear();
  } else if (verb == "silent") {
    command.verb = OperatorVerb::kSilent;
    const auto state = p.TakeSwitch("on", "off");
    ok = (state && p.args.empty()) || p.Fail("usage: silent on|off");
    command.flag = state.value_or(false);
  } else {
    static const std::pair<std::string_view, OperatorVerb> kPlain[] = {
        {"unplug", OperatorVerb::kUnplug}, {"replug", OperatorVerb::kReplug},
        {"reset", OperatorVerb::kReset},   {"status", OperatorVerb::kStatus},
        {"help", OperatorVerb::kHelp},     {"quit", OperatorVerb::kQuit},
    };
    const auto* found = std::find_if(std::begin(kPlain), std::end(kPlain),
                                     [&](const auto& entry) { return entry.first == verb; });
    if (found == std::end(kPlain)) {
      error = "unknown command '" + std::string(verb) + "' (try help)";
      return std::nullopt;
    }
    ok = p.args.empty() || p.Fail(std::string(verb) + " takes no arguments");
    command.verb = found->second;
  }
  if (!ok) return std::nullopt;
  if (!p.args.empty() && command.verb != OperatorVerb::kSay) {
    error = "too many arguments";
    return std::nullopt;
  }
  return command;
}

std::string OperatorCommandHelp() {
  return "  ring CPE LINE [on|off]  start or stop ringing on a telephone line (LINE 1 or 2)\n"
         "  hook CPE LINE [off|on]  lift (off) or put down (on) the handset on a line\n"
         "  drop CPE [SECONDS]      the CPE loses its radio link (\"Communications Lost\");\n"
         "                          it comes back after SECONDS, or stays down until \"lock\"\n"
         "  lock CPE                the CPE ranges and locks (\"Starting Ranging\", then\n"
         "                          \"Ranging Completed Successfully\")\n"
         "  creset CPE              the line card resets the CPE (\"Commanded Reset\")\n"
         "  sfd CPE COUNT           set and report the CPE's SFD loss count (0 to 65535)\n"
         "  rssi CPE VALUE          set the CPE's signal strength (0 to 255)\n"
         "  temp DEGREES            set the card's temperature (-40 to 125)\n"
         "  say TEXT                the card sends TEXT as one line, as it is\n"
         "  flood BYTES             debug text at full speed, past any line speed limit\n"
         "  noise SECONDS           garbage without line ends, as a wrong baud rate gives\n"
         "  silent on|off           the card answers nothing, like a dead card\n"
         "  unplug                  close the line as an unplugged adapter would\n"
         "  replug                  a new line (a new pseudo-terminal), the link re-pointed\n"
         "  reset                   press the card's reset button\n"
         "  status                  show the card's state\n"
         "  help                    this list\n"
         "  quit                    end the simulator\n"
         "  On the CPE application CPE may be left out; a CPE given there is ignored.\n";
}

std::optional<std::vector<ScriptEntry>> ParseScript(std::string_view text, std::string& error) {
  std::vector<ScriptEntry> entries;
  std::size_t line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++line_number;
    if (line.empty() || line.front() == '#') continue;

    const std::size_t blank = line.find_first_of(" \t");
    const auto seconds = Seconds(line.substr(0, blank));
    const std::string where = "line " + std::to_string(line_number) + ": ";
    if (!seconds || blank == std::string_view::npos) {
      error = where + "expected SECONDS COMMAND";
      return std::nullopt;
    }
    std::string why;
    const std::string_view command_text = Trimmed(line.substr(blank));
    auto command = ParseOperatorCommand(command_text, why);
    if (!command) {
      error = where + why;
      return std::nullopt;
    }
    entries.push_back({Time(static_cast<Time::rep>(std::llround(*seconds * 1e6))),
                       std::move(*command), std::string(command_text)});
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const ScriptEntry& a, const ScriptEntry& b) { return a.at < b.at; });
  return entries;
}

std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t') ++pos;
    if (pos > start) words.push_back(text.substr(start, pos - start));
  }
  return words;
}

}  // namespace velmora::cardsim
