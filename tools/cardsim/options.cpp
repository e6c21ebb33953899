#include "cardsim/options.h"

#include <charconv>
#include <string_view>

namespace velmora::cardsim {
namespace {

template <typename T>
std::optional<T> Number(std::string_view text, T low, T high, int base = 10) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value < low ||
      value > high) {
    return std::nullopt;
  }
  return value;
}

std::optional<Program> ProgramNamed(std::string_view name) {
  if (name == "boot") return Program::kBootLoader;
  if (name == "linecard") return Program::kLineCard;
  if (name == "cpe") return Program::kCpe;
  return std::nullopt;
}

std::vector<std::string_view> CommaList(std::string_view text) {
  std::vector<std::string_view> items;
  while (true) {
    const auto comma = text.find(',');
    items.push_back(text.substr(0, comma));
    if (comma == std::string_view::npos) return items;
    text = text.substr(comma + 1);
  }
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
  Options options;
  std::optional<Program> start;
  std::optional<Program> application;
  int slot = 2;
  int code = 3;
  int channel = 1;

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::optional<std::string> inline_value;
    if (const auto equals = arg.find('=');
        arg.starts_with("--") && equals != std::string_view::npos) {
      inline_value = std::string(arg.substr(equals + 1));
      arg = arg.substr(0, equals);
    }
    auto fail = [&](const std::string& why) {
      error = std::string(arg) + ": " + why;
      return std::nullopt;
    };
    // The option's value, from "--opt=value" or the next argument.
    auto value = [&]() -> std::optional<std::string> {
      if (inline_value) return inline_value;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    auto flag = [&](bool& target) {
      if (inline_value) return false;
      target = true;
      return true;
    };

    if (arg == "--help" || arg == "-h") {
      if (!flag(options.help)) return fail("takes no value");
    } else if (arg == "--version") {
      if (!flag(options.version)) return fail("takes no value");
    } else if (arg == "--quiet") {
      if (!flag(options.card.quiet)) return fail("takes no value");
    } else if (arg == "--quiet-log") {
      if (!flag(options.quiet_log)) return fail("takes no value");
    } else if (arg == "--steady") {
      if (!flag(options.card.steady)) return fail("takes no value");
    } else {
      const auto v = value();
      if (!v) return fail("needs a value");
      if (arg == "--link") {
        if (v->empty()) return fail("needs a path");
        options.link = *v;
      } else if (arg == "--start" || arg == "--app") {
        const auto program = ProgramNamed(*v);
        if (!program) return fail("boot, linecard or cpe");
        if (arg == "--app") {
          if (*program == Program::kBootLoader) return fail("linecard or cpe");
          application = program;
        } else {
          start = program;
        }
      } else if (arg == "--baud") {
        const auto baud = Number<long>(*v, 0, 4'000'000);
        if (!baud) return fail("a baud rate, 0 for no limit");
        options.baud = *baud;
      } else if (arg == "--program-out") {
        options.program_out = *v;
      } else if (arg == "--record-sent") {
        options.record_sent = *v;
      } else if (arg == "--trace") {
        options.trace = *v;
      } else if (arg == "--script") {
        options.script = *v;
      } else if (arg == "--seed") {
        const auto seed = Number<std::uint32_t>(*v, 0, UINT32_MAX);
        if (!seed) return fail("a number from 0 to 4294967295");
        options.card.seed = *seed;
        options.seed_given = true;
      } else if (arg == "--cpes") {
        options.card.cpes_present = {};
        if (*v != "none") {
          for (const auto item : CommaList(*v)) {
            const auto cpe = Number<int>(item, 0, 3);
            if (!cpe) return fail("CPE numbers 0 to 3, comma-separated, or none");
            options.card.cpes_present[static_cast<std::size_t>(*cpe)] = true;
          }
        }
      } else if (arg == "--rssi") {
        const auto items = CommaList(*v);
        if (items.size() > 4) return fail("at most four values");
        for (std::size_t k = 0; k < items.size(); ++k) {
          const auto rssi = Number<int>(items[k], 0, 255);
          if (!rssi) return fail("values 0 to 255, comma-separated");
          options.card.rssi[k] = static_cast<std::uint8_t>(*rssi);
        }
      } else if (arg == "--slot" || arg == "--code" || arg == "--channel") {
        const auto number = Number<int>(*v, 0, 3);
        if (!number) return fail("0 to 3");
        (arg == "--slot" ? slot : arg == "--code" ? code : channel) = *number;
      } else if (arg == "--temperature") {
        const auto degrees = Number<int>(*v, -40, 125);
        if (!degrees) return fail("-40 to 125");
        options.card.temperature = *degrees;
      } else if (arg == "--eeprom") {
        const std::string_view text = *v;
        const auto equals = text.find('=');
        const auto address = Number<unsigned>(text.substr(0, equals), 0, 0xFF, 16);
        const auto byte = equals == std::string_view::npos
                              ? std::nullopt
                              : Number<unsigned>(text.substr(equals + 1), 0, 0xFF, 16);
        if (!address || !byte) return fail("ADDRESS=VALUE in hexadecimal, e.g. 4=A6");
        options.card.eeprom.emplace_back(static_cast<std::uint8_t>(*address),
                                         static_cast<std::uint8_t>(*byte));
      } else {
        error = "unknown option " + std::string(arg) + " (see --help)";
        return std::nullopt;
      }
    }
  }

  if (options.help || options.version) return options;
  if (options.link.empty()) {
    error = "--link PATH is required (see --help)";
    return std::nullopt;
  }
  // Starting an application means that application is on the card.
  if (start && *start != Program::kBootLoader && application && *application != *start) {
    error = "--start " + std::string(ProgramName(*start)) + " contradicts --app " +
            std::string(ProgramName(*application));
    return std::nullopt;
  }
  options.card.application =
      application.value_or(start && *start != Program::kBootLoader ? *start : Program::kLineCard);
  options.card.start = start.value_or(options.card.application);
  options.card.radio_settings = static_cast<std::uint8_t>(slot << 4 | code << 2 | channel);
  if (options.baud > 0)
    options.card.noise_bytes_per_second = static_cast<double>(options.baud) / 10.0;
  return options;
}

std::string HelpText() {
  return R"(Usage: velmora-cardsim --link PATH [options]

A simulated radio card for the Velmora maintenance console: training, demos and
tests of the console without hardware. It opens a pseudo-terminal, puts a
symlink to it at PATH (choose PATH as the console's serial port), and plays one
card there: its boot loader, the line card application (serving CPEs 0 to 3,
two telephone lines each) or the CPE application. It answers the console's
commands, reports link, hook and ring events, takes program downloads and
checks them, and can be made to misbehave (noise, silence, floods, unplugging).

The card after a reset, by the reset command or the reset button:
  "Boot Loader Initialized" at once, "Boot Loader Ready" 300 ms later. A
  "stop" within 2 s of Ready gives "Boot Loader Stopped" and keeps the boot
  loader, which then takes everything it receives as a program file (Intel
  HEX) and judges it ("Program received: ..." or "Program error: ...") at the
  end record or after 1 s of silence. Otherwise the application starts with
  "Line Card Application Initialized" or "CPE Application Initialized", and
  its links come up within about five seconds.

Options:
  --link PATH          where to put the symlink to the pseudo-terminal (needed);
                       a stale symlink there is replaced, and it is removed on exit
  --start PROGRAM      what runs at start: boot, linecard or cpe (default: the
                       application of --app). boot waits at the boot loader's prompt
  --app APPLICATION    what the boot loader starts: linecard (default) or cpe;
                       --start linecard or --start cpe implies it
  --baud RATE          hold both directions to a serial line's speed, 8N1: 57600
                       gives 5,760 bytes a second; the console's writes then back
                       up as on a real line. Default 0: no limit
  --program-out FILE   keep each received program file here, byte for byte, written
                       as it arrives (started afresh at every "Boot Loader Stopped")
  --record-sent FILE   every byte the card put on the line while a console had it
                       open, in order (to compare with the console's log file)
  --trace FILE         one line per command the card received: seconds since start,
                       the program that got it (boot, linecard, cpe, or silent),
                       the command; "[program file ...]" lines mark downloads
  --script FILE        an event script: one timed command a line, seconds since
                       start and a command from the list below, e.g. "2.5 ring 2 1 on";
                       '#' starts a comment line
  --seed N             seed for the card's randomness (default: a fresh one, shown
                       in the log), so that a run can be repeated
  --quiet              no spontaneous events: the links come up once and stay; no
                       SFD reports, calls or link losses unless commanded
  --steady             values do not wander: signal strength, temperature, CPU load
                       and battery read exactly as set
  --cpes LIST          line card: the CPEs that are out there, e.g. 0,2 (default
                       0,1,2,3; none for no CPE)
  --rssi A,B,C,D       signal strength of CPEs 0 to 3 when locked (default 26,12,22,31;
                       the CPE application uses the first)
  --slot N, --code N, --channel N
                       the card's switches as read at FF12: time slot, CDMA code
                       and RF channel, 0 to 3 (default 2, 3, 1: FF12 reads 2D)
  --temperature C      board temperature in degrees Celsius (default 25)
  --eeprom A=V         start EEPROM byte A with V, both hexadecimal (repeatable);
                       defaults: 0 = 1F, 4 = 06 (line card) or 01 (CPE), 5 = 01
  --quiet-log          no status lines on standard error (errors still show)
  --help               this text
  --version            the simulator's version

Commands on standard input (and in the script):
)" + OperatorCommandHelp() +
         R"(
Line ends: the card takes a command at CR LF, CR or LF, and ends each of its
lines with CR LF. It never echoes and shows no prompt.

While no console has the line open, what the card says is lost, as on a
serial cable that nobody listens to.

It ends on "quit" (the end of standard input does not end it), and cleanly on
SIGINT, SIGTERM or SIGHUP, removing the symlink. Exit status 0; 1 when the
line cannot be set up; 2 for a bad command line or script.
)";
}

}  // namespace velmora::cardsim
