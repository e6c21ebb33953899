// Drives the simulated card the way the console would, on a clock the test moves by hand.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "cardsim/card.h"

namespace velmora::cardsim::testing {

using std::chrono::milliseconds;

struct Recording : CardListener {
  std::vector<std::string> commands;  // "who command"
  std::string program_file;
  int programs_begun = 0;
  std::vector<std::string> verdicts;

  void CommandReceived(Time, std::string_view who, std::string_view command) override {
    commands.push_back(std::string(who) + " " + std::string(command));
  }
  void ProgramBegins() override {
    ++programs_begun;
    program_file.clear();
  }
  void ProgramBytes(std::string_view bytes) override { program_file.append(bytes); }
  void ProgramEnds(std::string_view verdict) override { verdicts.emplace_back(verdict); }
};

// A card that does only what it is told: no random events, values exactly as configured.
inline CardConfig QuietConfig(Program start, Program application = Program::kLineCard) {
  CardConfig config;
  config.start = start;
  config.application = application;
  config.seed = 7;
  config.quiet = true;
  config.steady = true;
  return config;
}

class CardDriver {
 public:
  explicit CardDriver(CardConfig config) : card(std::move(config), Time{0}, &recording) {}

  void Send(std::string_view bytes) { card.Receive(bytes, now); }

  void Wait(milliseconds duration) {
    now += duration;
    card.Advance(now);
  }

  // The card's complete lines since the last look, without their CR LF. Every line must end
  // with CR LF: the console cuts lines only there.
  std::vector<std::string> Lines() {
    const std::string bytes = card.TakeOutput();
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
      const std::size_t end = bytes.find("\r\n", start);
      if (end == std::string::npos) {
        ADD_FAILURE() << "text without CR LF at the end: " << bytes.substr(start);
        break;
      }
      lines.push_back(bytes.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  // Sends one command as the console does (CR LF) and returns the card's answer.
  std::vector<std::string> Ask(std::string_view command) {
    Lines();
    Send(std::string(command) + "\r\n");
    return Lines();
  }

  std::string AskOne(std::string_view command) {
    const auto lines = Ask(command);
    EXPECT_EQ(lines.size(), 1u) << "command " << command;
    return lines.empty() ? std::string{} : lines.front();
  }

  OperatorResult Operator(std::string_view text) {
    std::string error;
    const auto command = ParseOperatorCommand(text, error);
    if (!command) {
      ADD_FAILURE() << "bad operator command " << text << ": " << error;
      return {false, error};
    }
    return card.Apply(*command, now);
  }

  Recording recording;
  Card card;
  Time now{0};
};

}  // namespace velmora::cardsim::testing
