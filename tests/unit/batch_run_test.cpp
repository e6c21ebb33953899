// A job over simulated cards on fake ports and virtual time: each way a card can end.
#include "batch/batch_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "cardsim/card.h"
#include "support/fakes.h"

namespace velmora::batch {
namespace {

using testing::FakeClock;
using testing::FakeSerialPort;
using testing::FakeTimer;

class VirtualClock : public Clock {
 public:
  explicit VirtualClock(const FakeClock& clock) : clock_(clock) {}
  std::int64_t MonotonicMs() const override { return clock_.now; }
  std::int64_t WallMs() const override { return clock_.now; }

 private:
  const FakeClock& clock_;
};

// A simulated card on the far end of a fake port; the port's transmit queue drains at once.
struct SimulatedCard : CardPlatform {
  SimulatedCard(FakeClock& time, cardsim::CardConfig config, FakeSerialPort::Availability device)
      : clock(time),
        transmit(&clock),
        download(&clock),
        watch(&clock),
        deferred(&clock),
        card(config, Now()) {
    port.SetPort(1, device);
    port.onOutput = [this](const std::string& bytes) { card.Receive(bytes, Now()); };
  }
  cardsim::Time Now() const { return std::chrono::milliseconds(clock.now); }
  void Step() {
    card.Advance(Now());
    const std::string out = card.TakeOutput();
    if (!out.empty()) port.Feed(out);
    if (port.IsOpen() && port.SThreshold() > 0 && !stalled) port.RaiseSend();
  }
  // The card's operator ("lose": the adapter is pulled; "stall": the port stops taking bytes);
  // what the card was about to say is
  // lost with it.
  void Operator(const std::string& text) {
    if (text == "lose") return port.Lose();
    if (text == "stall") return void(stalled = true);
    std::string error;
    card.Apply(*cardsim::ParseOperatorCommand(text, error), Now());
    card.DiscardOutput();
  }
  SerialPort& Port() override { return port; }
  Timer& TransmitTimer() override { return transmit; }
  Timer& DownloadTimer() override { return download; }
  Timer& WatchTimer() override { return watch; }
  Timer& DeferredTimer() override { return deferred; }

  FakeClock& clock;
  bool stalled = false;
  FakeSerialPort port;
  FakeTimer transmit, download, watch, deferred;
  cardsim::Card card;
};

struct Bench {
  FakeClock clock;
  VirtualClock virtualClock{clock};
  std::vector<SimulatedCard*> sims;
  // Runs virtual time in 10 ms steps until the job is done or `limitMs` passed; `at` runs
  // once, when the first card enters the stage named `stage`.
  void Run(BatchRun& run, std::int64_t limitMs, const std::string& stage = {},
           const std::function<void()>& at = {}) {
    run.Start();
    bool fired = stage.empty();
    for (std::int64_t t = 0; t < limitMs && !run.Finished(); t += 10) {
      if (!fired && StageName(run.Cards()[0]->CurrentStage()).starts_with(stage)) {
        fired = true;
        at();
      }
      clock.Advance(10);
      for (SimulatedCard* sim : sims) sim->Step();
    }
  }
};

std::string Describe(const CardReport& r) {
  std::ostringstream out;
  out << ResultName(r.result);
  for (const Change& c : r.changes) out << " " << c.what << ":" << c.from << "->" << c.to;
  if (r.download) out << " download:" << r.download->bytes;
  if (!r.error.empty()) out << " [" << r.error << "]";
  return out.str();
}

struct Row {
  std::string name;
  cardsim::Program start;
  // What the row adds to a line card job with no settings, and "absent" (no device), "busy", or
  // "@STAGE:command" (the card's operator when the run enters that stage, '_' for a blank).
  std::string setup;
  std::string expected;  // Describe() of the card's report
};

TEST(BatchCardRun, EachWayACardEndsIsReportedInItsOwnWords) {
  const std::string hex = testing::IntelHex(3000);
  const std::vector<Row> rows = {
      {"nothing to do", cardsim::Program::kLineCard, "", "ok"},
      {"settings already held", cardsim::Program::kLineCard, "sfd=31 telephony=2 v35=1", "ok"},
      {"settings written and read back", cardsim::Program::kLineCard, "sfd=18 telephony=3 v35=2",
       "changed sfd:31->18 telephony:2->3 v35:1->2"},
      {"range on the CPE application", cardsim::Program::kCpe, "expect=cpe range=0",
       "changed range:1->0"},
      {"wrong program", cardsim::Program::kCpe, "",
       "failed [The card runs the CPE application, not the line card application.]"},
      {"a setting the running program lacks", cardsim::Program::kCpe, "expect=none telephony=1",
       "failed [The job sets telephony, which the CPE application does not have.]"},
      {"no such port", cardsim::Program::kLineCard, "absent", "failed [There is no such port.]"},
      {"held by another program", cardsim::Program::kLineCard, "busy",
       "failed [COM1 (/dev/fake1) is in use by another program.]"},
      {"adapter pulled while reading", cardsim::Program::kLineCard, "@reading:lose",
       "failed [Input/output error]"},
      {"silent from the start", cardsim::Program::kLineCard, "@recognising:silent_on",
       "failed [The card did not answer.]"},
      {"garbage", cardsim::Program::kLineCard, "@recognising:noise_30",
       "failed [The card answers, but not as any of its programs (wrong speed or wrong device?).]"},
      {"silent while its settings are read back", cardsim::Program::kLineCard,
       "sfd=18 @writing:silent_on", "failed [The card did not read its settings back.]"},
      {"download", cardsim::Program::kLineCard, "program",
       "changed program:Line Card Application 4.17->prog.hex download:3000"},
      {"download already there", cardsim::Program::kLineCard, "program after=4.17", "ok"},
      {"download brings the wrong version", cardsim::Program::kLineCard, "program after=4.18",
       "failed program:Line Card Application 4.17->prog.hex download:3000 [After the download the "
       "card runs Line Card Application 4.17, not 4.18.]"},
      {"stuck in its boot loader", cardsim::Program::kBootLoader, "program",
       "changed program:->prog.hex download:3000"},
      {"boot loader, nothing to give it", cardsim::Program::kBootLoader, "",
       "failed [The card runs the boot loader, not the line card application.]"},
      {"a transfer that stalls", cardsim::Program::kLineCard, "program @downloading:stall",
       "failed [The download stalled: no byte went out for 60 s. It was aborted and the card "
       "restarted.]"},
      {"silent boot loader", cardsim::Program::kLineCard, "program @downloading:silent_on",
       "failed [Boot Loader Not Detected]"},
  };
  for (const Row& row : rows) {
    Bench bench;
    Job job;
    job.cards = {"/dev/ttyUSB0"};
    job.expect = 2;
    job.genericKey = "telephony";
    auto availability = FakeSerialPort::Availability::Free;
    std::string operatorAt;
    std::string operatorCommand;
    std::istringstream words(row.setup);
    for (std::string word; words >> word;) {
      if (word == "absent") availability = FakeSerialPort::Availability::Missing;
      if (word == "busy") availability = FakeSerialPort::Availability::Busy;
      if (word[0] == '@') {
        operatorAt = word.substr(1, word.find(':') - 1);
        operatorCommand = word.substr(word.find(':') + 1);
        std::replace(operatorCommand.begin(), operatorCommand.end(), '_', ' ');
      }
      const auto eq = word.find('=');
      const std::string key = word.substr(0, eq),
                        value = eq == word.npos ? "" : word.substr(eq + 1);
      if (key == "expect") job.expect = value == "cpe" ? std::optional(3) : std::nullopt;
      if (key == "sfd") job.settings.sfd = std::stoi(value);
      if (key == "telephony" || key == "range") job.settings.generic = std::stoi(value);
      if (key == "range") job.genericKey = "range";
      if (key == "v35") job.settings.v35 = std::stoi(value);
      if (key == "program") job.program = "/jobs/prog.hex";
      if (key == "after") job.versionsAfter = value;
    }
    const CheckedProgram program{"/jobs/prog.hex", "prog.hex", hex};
    cardsim::CardConfig config;
    config.start = row.start;
    config.quiet = true;
    config.steady = true;
    SimulatedCard* sim = nullptr;
    BatchRun run(
        job, job.program ? &program : nullptr,
        [&](const std::string&) {
          auto made = std::make_unique<SimulatedCard>(bench.clock, config, availability);
          sim = made.get();
          bench.sims.push_back(sim);
          return made;
        },
        bench.virtualClock, 0);
    std::vector<Change> audited;
    run.onChange = [&](const std::string&, const Change& c) { audited.push_back(c); };
    bench.Run(run, 120'000, operatorAt, [&] { sim->Operator(operatorCommand); });
    ASSERT_TRUE(run.Finished()) << row.name;
    const CardReport report = run.Reports().at(0);
    EXPECT_EQ(Describe(report), row.expected) << row.name;
    EXPECT_EQ(audited.size(), report.changes.size()) << row.name;
    EXPECT_EQ(run.ExitStatus(), report.result == Result::kFailed ? 1 : 0) << row.name;
    // Done is done: the port closed and the console's timers stopped.
    EXPECT_FALSE(sim->port.IsOpen() || sim->transmit.Enabled()) << row.name;
  }
}

// Three cards, two at a time; a stop in the middle of the first two downloads lets them end
// and starts nobody else.
TEST(BatchCardRun, AStopWaitsForDownloadsAndStartsNoMoreCards) {
  Bench bench;
  Job job;
  job.cards = {"a", "b", "c"};
  job.expect = 2;
  job.program = "/p.hex";
  const CheckedProgram program{"/p.hex", "p.hex", testing::IntelHex(30'000)};
  cardsim::CardConfig config;
  config.quiet = true;
  BatchRun run(
      job, &program,
      [&](const std::string&) {
        auto made = std::make_unique<SimulatedCard>(bench.clock, config,
                                                    FakeSerialPort::Availability::Free);
        bench.sims.push_back(made.get());
        return made;
      },
      bench.virtualClock, 2);
  run.Start();
  bool stopped = false;
  for (int step = 0; step < 10'000 && !run.Finished(); ++step) {
    if (!stopped && run.Cards()[0]->ConsoleOf().state.DownloadSent > 0) {
      run.Stop();
      stopped = true;
    }
    bench.clock.Advance(10);
    for (SimulatedCard* sim : bench.sims) sim->Step();
  }
  ASSERT_TRUE(stopped && run.Finished());
  std::vector<std::string> seen;
  for (const CardReport& r : run.Reports()) seen.push_back(Describe(r));
  const std::string flashed =
      "failed program:Line Card Application 4.17->p.hex download:30000 [Stopped by the user after "
      "the download; the card was not checked.]";
  EXPECT_EQ(seen, (std::vector<std::string>{flashed, flashed,
                                            "failed [Stopped before this card was started.]"}));
  EXPECT_EQ(bench.sims.size(), 3u);
  EXPECT_EQ(run.ExitStatus(), 1);
}

}  // namespace
}  // namespace velmora::batch
