// End-to-end harness: the real console executable, offscreen and driven through its scripted
// driver, talking to the simulated card over a real pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "drive/drive.h"

namespace velmora::e2e {

using namespace std::chrono_literals;

using drive::Slurp;
using drive::WaitUntil;

// The share of one CPU a process takes over `interval` from now, in percent: a busy loop shows.
inline double CpuPercent(pid_t pid, std::chrono::seconds interval) {
  const double before = drive::ProcessCpu(pid).Total();
  std::this_thread::sleep_for(interval);
  return (drive::ProcessCpu(pid).Total() - before) / static_cast<double>(interval.count()) * 100;
}

// A temporary directory, removed with everything in it.
class Workspace {
 public:
  Workspace() {
    char pattern[] = "/tmp/velmora-e2e-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    // Consoles started from here record into the workspace, never into the home folder.
    ::setenv("VELMORA_RECORDING_DIR", Path("recording").c_str(), 1);
  }
  ~Workspace() { std::filesystem::remove_all(dir_, ec_); }
  std::filesystem::path Path(const std::string& name) const { return dir_ / name; }

 private:
  std::filesystem::path dir_;
  std::error_code ec_;
};

// An Intel HEX file made by objcopy from the start of a real binary: about 2.8 bytes of text
// a byte.
inline std::string MakeProgram(Workspace& ws, std::size_t binary_bytes,
                               const std::string& name = "prog.hex") {
  const std::string bin = ws.Path(name + ".bin"), hex = ws.Path(name);
  std::ofstream(bin, std::ios::binary) << Slurp(VELMORA_CARDSIM_BIN).substr(0, binary_bytes);
  if (std::system(("objcopy -I binary -O ihex " + bin + " " + hex).c_str()) != 0)
    throw std::runtime_error("objcopy failed");
  return hex;
}

// The simulated card at ws/card, which Connect has trace the commands it takes.
class Card : public drive::Card {
 public:
  Card(Workspace& ws, std::vector<std::string> options)
      : drive::Card(VELMORA_CARDSIM_BIN, ws.Path("card"), options), trace_(ws.Path("trace.txt")) {}
  // Commands the card received, in order, and its notes on the program file.
  std::vector<std::string> Trace() const {
    std::istringstream in(Slurp(trace_));
    std::vector<std::string> lines;
    // Each line: seconds, the program that took the command, the command.
    for (std::string seconds, program, command; in >> seconds >> program >> std::ws;)
      if (std::getline(in, command)) lines.push_back(command);
    return lines;
  }

 private:
  std::string trace_;
};

// A test with the simulated card and the real console on its link.
class CardAndConsole : public ::testing::Test {
 protected:
  // The card with these options, --quiet and its trace, the console on its link (and on
  // `more_ports`), COM1 chosen and `program` shown.
  void Connect(std::vector<std::string> options, const std::string& program,
               const std::string& more_ports = "") {
    options.insert(options.end(), {"--quiet", "--trace", ws.Path("trace.txt")});
    card = std::make_unique<Card>(ws, options);
    console =
        std::make_unique<drive::Console>(VELMORA_CONSOLE_BIN, "COM1=" + card->Link() + more_ports);
    ASSERT_NO_FATAL_FAILURE(ChooseCom1(program));
  }
  void ChooseCom1(const std::string& program) {
    console->Do("choose CommPortSelect 1");
    ASSERT_TRUE(console->WaitFor("ProgramText", "text", program, 15s))
        << console->Get("ProgramText");
  }
  // How often the card took `command` since `mark`.
  long Took(const std::string& command) {
    const auto trace = card->Trace();
    return std::count(trace.begin() + static_cast<std::ptrdiff_t>(mark), trace.end(), command);
  }
  // Waits until the card took these commands in this order since `mark` (others may come
  // between).
  bool CardTook(const std::vector<std::string>& commands, std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
          const auto trace = card->Trace();
          auto at = trace.begin() + static_cast<std::ptrdiff_t>(std::min(mark, trace.size()));
          for (const auto& command : commands)
            if ((at = std::find(at, trace.end(), command)) == trace.end())
              return false;
            else
              ++at;
          return true;
        },
        timeout);
  }

  Workspace ws;
  std::unique_ptr<Card> card;
  std::unique_ptr<drive::Console> console;  // after the card: it goes first
  std::size_t mark = 0;                 // where the trace of the case under test begins
};

}  // namespace velmora::e2e
