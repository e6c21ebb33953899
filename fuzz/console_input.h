// The input format of fuzz_console, shared with the seed writer so that seeds stay meaningful.
//
// An input is a sequence of steps read with FuzzedDataProvider: every number (the step itself and
// its parameters) comes from the end of the input, every text from the front. Each step reads
// the same parameters whatever the console's state, so a seed written from a script means the
// same steps when it is read back.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace velmora::fuzz {

// Parameters, in the order they are read: In(a..b) a number, Text a text (see InputWriter).
enum class Step : std::uint8_t {
  FeedLines,     // In(1..4) lines, each a reply line (see fuzz_console.cpp)
  FeedRaw,       // String(6000): bytes as received
  FeedRepeated,  // Bool, then a reply line or String(40); In(1..1200) times
  FeedInPieces,  // a reply line, then In(1..rest) for each piece
  Tick,          // 100 ms
  Time,          // In(0..20000) ms
  Send,          // a send event of the port
  ChooseCpe,     // In(-1..4)
  ShowTab,       // In(0..2)
  TypeSfd,       // In(1..8) keys, each In(0..3) kind and its code
  EditSfd,       // Text
  PasteSfd,      // Text
  ClickSfd,
  ChooseGeneric,  // In(-1..4)
  ClickGeneric,
  ChooseV35,  // In(-1..3)
  ClickV35,
  EditCommandLine,  // Text
  CommandLineKey,   // In(0..2): Enter, Up, Down
  ClickCommandLine,
  ClickLogging,   // In(0..4) answer (0 cancels), In(0..4) which log file
  LogDiskFull,    // Bool
  StartDownload,  // In(0..5) answer (0 cancels, 1 missing, 2 locked, else new), In(0..12000) length
  ClickDownload,
  ProgramFileGone,
  LosePort,
  LosePortAndRunDeferred,
  ChoosePort,        // In(0..3)
  PortAvailability,  // In(0..2) free, busy, missing; In(1..2) port
  RunDeferred,
  PendingThenSend,     // a send event during which one nested step runs as pending events
  PendingThenStopped,  // "Boot Loader Stopped" received, with one nested step as pending events
  ArmModalEvents,      // In(0..3): nested steps to run behind the next modal boxes
  Exit,
  kMaxValue = Exit,
};

inline const char* StepName(Step step) {
  static const char* const kNames[] = {
      "FeedLines",
      "FeedRaw",
      "FeedRepeated",
      "FeedInPieces",
      "Tick",
      "Time",
      "Send",
      "ChooseCpe",
      "ShowTab",
      "TypeSfd",
      "EditSfd",
      "PasteSfd",
      "ClickSfd",
      "ChooseGeneric",
      "ClickGeneric",
      "ChooseV35",
      "ClickV35",
      "EditCommandLine",
      "CommandLineKey",
      "ClickCommandLine",
      "ClickLogging",
      "LogDiskFull",
      "StartDownload",
      "ClickDownload",
      "ProgramFileGone",
      "LosePort",
      "LosePortAndRunDeferred",
      "ChoosePort",
      "PortAvailability",
      "RunDeferred",
      "PendingThenSend",
      "PendingThenStopped",
      "ArmModalEvents",
      "Exit",
  };
  static_assert(std::size(kNames) == static_cast<std::size_t>(Step::kMaxValue) + 1);
  return kNames[static_cast<std::size_t>(step)];
}

// Text: In(0..2) kind; 0: String(16), 1: String(2000), 2: String(8) repeated In(1..1000) times.
enum class TextKind { Short = 0, Long = 1, Repeated = 2 };

// Builds inputs that FuzzedDataProvider reads back as the given steps and parameters.
class InputWriter {
 public:
  void Add(Step step) {
    In(static_cast<std::int64_t>(step), 0, static_cast<std::int64_t>(Step::kMaxValue));
  }

  // A number read by ConsumeIntegralInRange(min, max) of a type of `bytes` bytes.
  void In(std::int64_t value, std::int64_t min, std::int64_t max, int typeBytes = 4) {
    const std::uint64_t range = static_cast<std::uint64_t>(max - min);
    const std::uint64_t v = static_cast<std::uint64_t>(value - min);
    int count = 0;
    while (count < typeBytes && (range >> (8 * count)) > 0) ++count;
    // Read from the end, the most significant byte first.
    for (int i = count - 1; i >= 0; --i) back_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Bool(bool b) { back_.push_back(b ? 1 : 0); }

  // A text read by ConsumeRandomLengthString(max): backslashes doubled, a backslash and another
  // character end it.
  void String(const std::string& text, std::size_t max) {
    for (std::size_t i = 0; i < text.size() && i < max; ++i) {
      if (text[i] == '\\') front_ += '\\';
      front_ += text[i];
    }
    if (text.size() < max) front_ += "\\;";
  }
  void Text(const std::string& text) {
    if (text.size() <= 16) {
      In(static_cast<int>(TextKind::Short), 0, 2);
      String(text, 16);
    } else {
      In(static_cast<int>(TextKind::Long), 0, 2);
      String(text, 2000);
    }
  }

  std::string Bytes() const {
    std::string bytes = front_;
    for (auto it = back_.rbegin(); it != back_.rend(); ++it) bytes += static_cast<char>(*it);
    return bytes;
  }

 private:
  std::string front_;
  std::vector<std::uint8_t> back_;  // in the order they are read
};

}  // namespace velmora::fuzz
