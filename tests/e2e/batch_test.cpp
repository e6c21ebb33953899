// velmora-batch against simulated cards over real pseudo-terminals, one of them behind ser2net:
// what the reports, the audit log and the cards themselves say afterwards.
#include <csignal>
#include <regex>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

namespace fs = std::filesystem;

struct Ran {
  int status = -1;
  std::string output;
};

// velmora-batch with these arguments to its end, its standard output and errors together;
// `whileRunning` is called with each line as it comes; the audit log goes to ws/`state`.
Ran Batch(Workspace& ws, std::vector<std::string> args,
          const std::function<void(const std::string&, drive::Child&)>& whileRunning = {},
          const std::string& state = "state") {
  args.insert(args.begin(), VELMORA_BATCH_BIN);
  drive::Child child(args, {"VELMORA_STATE_DIR=" + ws.Path(state).string()}, {-1, -1, 1});
  Ran run;
  for (std::string line; child.ReadLine(line, 120s);) {
    run.output += line + "\n";
    if (whileRunning) whileRunning(line, child);
  }
  run.status = child.Stop();
  return run;
}

std::string Write(Workspace& ws, const std::string& name, const std::string& text) {
  std::ofstream(ws.Path(name)) << text;
  return ws.Path(name).string();
}

// Four cards: two line cards (the second behind ser2net), one that stays silent and one running
// the CPE application; the job sets the SFD value and downloads a program.
TEST(Batch, FourCardsOneSilentOneWrongProgramEachReportedAndOnlyTheSoundOnesChanged) {
  Workspace ws;
  const auto card = [&](const std::string& name, std::vector<std::string> options) {
    options.insert(options.end(), {"--quiet", "--steady", "--quiet-log", "--program-out",
                                   ws.Path(name + ".received").string()});
    return std::make_unique<drive::Card>(VELMORA_CARDSIM_BIN, ws.Path(name).string(), options);
  };
  auto first = card("first", {});
  auto second = card("second", {"--eeprom", "0=12"});
  auto silent = card("silent", {});
  auto cpe = card("cpe", {"--start", "cpe"});
  silent->Operator("silent on");
  drive::Ser2net server(ws.Path("ser2net.yaml"), second->Link(), "rfc2217");
  const std::string program = MakeProgram(ws, 3000);
  const std::string cards = "cards:\n  - " + first->Link() + "\n  - " + server.Address() +
                            "\n  - " + silent->Link() + "\n  - " + cpe->Link() + "\n";

  // A job that is bad, or whose program is, touches no card.
  const std::string bad = Write(ws, "bad.hex", ":10000000FFFF\n");
  const auto refused = {
      std::pair{cards + "expect: linecard\ncolour: blue\n", "job.yaml:7: colour: unknown key"},
      std::pair{cards + "program: " + bad + "\n", "no card was touched"}};
  for (const auto& [job, said] : refused) {
    const Ran run = Batch(ws, {Write(ws, "job.yaml", job)});
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find(said), std::string::npos) << run.output;
  }
  EXPECT_EQ(Slurp(ws.Path("first.received")), "");

  const std::string job =
      Write(ws, "job.yaml", cards + "expect: linecard\nsettings: {sfd: 18}\nprogram: prog.hex\n");
  const Ran run = Batch(ws, {job, "--report", ws.Path("report.json").string(), "--junit",
                             ws.Path("junit.xml").string()});
  EXPECT_EQ(run.status, 1) << run.output;

  // The report, one card per line, as Python's json module reads it back.
  const std::string summary = ws.Path("summary.txt").string();
  ASSERT_EQ(
      std::system(("python3 -c \"import json,sys\nfor c in json.load(open('" +
                   ws.Path("report.json").string() +
                   "'))['cards']: print(c['result'], (c['settings']['before'] or {}).get('sfd'), "
                   "(c['settings']['after'] or {}).get('sfd'), "
                   "c.get('download', {}).get('bytes'), c['error'])\" > " +
                   summary)
                      .c_str()),
      0);
  const std::string bytes = std::to_string(Slurp(program).size());
  EXPECT_EQ(Slurp(summary),
            "changed 31 18 " + bytes + " \n" + "changed 18 18 " + bytes + " \n" +
                "failed None None None The card did not answer.\n"
                "failed None None None The card runs the CPE application, not the line card "
                "application.\n");
  // Both sound cards got the program byte for byte, the others nothing.
  EXPECT_EQ(Slurp(ws.Path("first.received")), Slurp(program));
  EXPECT_EQ(Slurp(ws.Path("second.received")), Slurp(program));
  EXPECT_EQ(Slurp(ws.Path("cpe.received")), "");
  const std::string junit = Slurp(ws.Path("junit.xml"));
  EXPECT_NE(junit.find("tests=\"4\" failures=\"2\""), std::string::npos) << junit;
  // One audit line per change: the first card's SFD and both programs.
  const std::string audit = Slurp(ws.Path("state/audit.jsonl"));
  EXPECT_EQ(std::count(audit.begin(), audit.end(), '\n'), 3) << audit;
  EXPECT_NE(audit.find("\"what\":\"sfd\",\"from\":\"31\",\"to\":\"18\""), std::string::npos)
      << audit;

  // A full disk under the audit log: the change is made and reported, and the run is not clean.
  fs::create_directories(ws.Path("full"));
  fs::create_symlink("/dev/full", ws.Path("full/audit.jsonl"));
  const Ran unaudited =
      Batch(ws, {Write(ws, "one.yaml", "cards: [" + first->Link() + "]\nsettings: {sfd: 31}\n")},
            {}, "full");
  EXPECT_EQ(unaudited.status, 1) << unaudited.output;
  EXPECT_NE(unaudited.output.find("No space left on device"), std::string::npos)
      << unaudited.output;

  // Ctrl-C while the cards are read: stopped at once, and the report still written.
  const Ran stopped = Batch(ws, {job, "--report", ws.Path("stopped.json").string()},
                            [](const std::string& line, drive::Child& child) {
                              if (line.find(": reading") != std::string::npos)
                                ::kill(child.pid(), SIGINT);
                            });
  EXPECT_EQ(stopped.status, 1) << stopped.output;
  EXPECT_NE(Slurp(ws.Path("stopped.json")).find("Stopped by the user."), std::string::npos);
}

}  // namespace
}  // namespace velmora::e2e
