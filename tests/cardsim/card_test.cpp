// The simulated card's conversation, for what the console's end-to-end tests do not already
// exercise through it: a CPE's loss and return, the boot loader's rhythm to the millisecond,
// verdicts on bad program files, input of any shape and the operator's mischief. Protocol texts are
// written out on purpose, so that a changed text in the simulator shows up as a failure.
#include "cardsim/card.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "cardsim/options.h"

namespace velmora::cardsim {
namespace {

using std::chrono::milliseconds;

// The card configured by these command line options (on top of --quiet --steady), on a clock the
// test moves by hand, fed a script of steps separated by ";":
//   +300        300 ms pass            !TEXT / ?TEXT   an operator's command taken / refused
//   >BYTES      bytes as they stand    =A|B            the lines said since the last look ("=":
//   -           forget what was said                   none), without their CR LF
//   file:BYTES  the program file kept  anything else   a command, sent with CR LF
struct Conversation : CardListener {
  explicit Conversation(const std::string& options) {
    std::vector<std::string> args = {"--link", "x", "--seed", "7", "--quiet", "--steady"};
    std::istringstream words(options);
    for (std::string word; words >> word;) args.push_back(word);
    std::string error;
    const auto parsed = ParseOptions(args, error);
    EXPECT_TRUE(parsed) << error;
    card.emplace(parsed ? parsed->card : CardConfig{}, now, this);
  }
  void ProgramBegins() override { file.clear(); }
  void ProgramBytes(std::string_view bytes) override { file.append(bytes); }

  // Every line must end with CR LF: the console cuts lines only there.
  std::string Said() {
    const std::string bytes = card->TakeOutput();
    EXPECT_TRUE(bytes.empty() || bytes.ends_with("\r\n")) << "text without CR LF: " << bytes;
    std::string lines;
    for (std::size_t at = 0, end; (end = bytes.find("\r\n", at)) != bytes.npos; at = end + 2)
      lines += (at == 0 ? "" : "|") + bytes.substr(at, end - at);
    return lines;
  }
  void Run(const std::string& script) {
    std::istringstream steps(script);
    for (std::string step; std::getline(steps, step, ';');) {
      SCOPED_TRACE(step);
      const std::string rest = step.substr(std::min<std::size_t>(1, step.size()));
      std::string error;
      if (step[0] == '+')
        card->Advance(now += milliseconds(std::stoi(rest)));
      else if (step[0] == '!' || step[0] == '?') {
        const auto command = ParseOperatorCommand(rest, error);
        EXPECT_EQ(command && card->Apply(*command, now).ok, step[0] == '!');
      } else if (step[0] == '>')
        card->Receive(rest, now);
      else if (step[0] == '=')
        EXPECT_EQ(Said(), rest);
      else if (step == "-")
        Said();
      else if (step.rfind("file:", 0) == 0)
        EXPECT_EQ(file, step.substr(5));
      else
        card->Receive(step + "\r\n", now);
    }
  }

  Time now{0};
  std::optional<Card> card;
  std::string file;
};

// Two data records and the end record; in the bad one the second record's checksum is off.
const std::string kHex =
    ":10010000214601360121470136007EFE09D2190140\r\n"
    ":100110002146017E17C20001FF5F16002148011928\r\n:00000001FF\r\n";
const std::string kBadHex = kHex.substr(0, 86) + "38" + kHex.substr(88);
// As the console's download does it: the card stopped in its boot loader, ready for a file.
const std::string kStopped = "-;>\r\nreset\r\n;+300;-;stop;=Boot Loader Stopped;";

TEST(Card, ConversationsGoAsTheConsoleAndTheOperatorExpect) {
  const std::vector<std::array<std::string, 3>> rows = {
      // A CPE dropped and ranging again: events the console's end-to-end tests never cause.
      {"a dropped CPE", "",
       "+6000;!hook 3 1 off;-;!drop 3;=Subscriber 03 Communications Lost;op_status;line_state;"
       "=op_status: 02020200|hook_state: 0101010101010101|ring_state: 0000000000000000;+30000;=;"
       "!lock 3;+2000;=Subscriber 03 Starting Ranging|Subscriber 03 Ranging Completed "
       "Successfully|Subscriber 03 SFD Loss Count: 0000;!drop 1 5;-;+4900;=;+200;"
       "=Subscriber 01 Starting Ranging;cpe_reset 2;=Subscriber 02 Commanded Reset"},
      // The boot loader's rhythm: Ready 300 ms after the reset, then 2 s to hear "stop".
      {"reset", "",
       "+6000;-;reset;=Boot Loader Initialized;+299;=;+1;=Boot Loader Ready;+1999;=;+1;"
       "=Line Card Application Initialized;?ring 0 1 on"},
      {"the application it was given", "--start boot --app cpe",
       "=;?drop 0;reset;+2300;=Boot Loader Initialized|Boot Loader Ready|CPE Application "
       "Initialized"},
      {"stop too late", "", "reset;+2300;-;stop;=Unknown command, type help"},
      // Program files the console would never send, judged.
      {"bad checksum", "",
       kStopped + ">" + kBadHex +
           ";=Program error: bad checksum in record 2;"
           "file:" +
           kBadHex},
      {"no end record", "",
       kStopped + "+20000;=;>" + kHex.substr(0, 88) +
           ";+999;=;+1;=Program error: no end record after 2 records"},
      // What a person types in the console's terminal, or a line's garbage.
      {"line ends", "", "-;>ree 0\r\nree 4\r  ree 5 \t\n\r\n;=0000: 1F|0004: 06|0005: 01"},
      {"overlong", "", "-;>" + std::string(100000, 'x') + "\r\n;=Command too long;ree 4;=0004: 06"},
  };
  for (const auto& [behaviour, options, script] : rows) {
    SCOPED_TRACE(behaviour);
    Conversation(options).Run(script);
  }
}

TEST(Card, AFloodOrRepliesNobodyReadsNeverFillItsMemory) {
  Conversation talk("");
  talk.Run("-;!flood 1000000");
  std::size_t total = 0, largest = 0;
  for (std::string chunk; !talk.card->PendingOutput().empty(); total += chunk.size())
    largest = std::max(largest, (chunk = talk.card->TakeOutput()).size());
  EXPECT_EQ(total, 1000000u);
  EXPECT_LT(largest, 64u * 1024) << "the flood must not sit in memory";
  for (int i = 0; i < 5000; ++i) talk.Run("help");
  EXPECT_LE(talk.card->PendingOutput().size(), Card::kMaxQueuedOutput) << "nobody reads it";
}

TEST(Card, TheProgramRefusesToReplaceAFileThatIsNotItsLink) {
  const std::string file = ::testing::TempDir() + "not-a-link-" + std::to_string(::getpid());
  std::ofstream(file) << "keep me";
  const std::string command = std::string(CARDSIM_PROGRAM) + " --link " + file + " 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 1);
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");
  std::remove(file.c_str());
}

}  // namespace
}  // namespace velmora::cardsim
