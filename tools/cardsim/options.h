// The simulator's command line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cardsim/card.h"

namespace velmora::cardsim {

struct Options {
  std::string link;  // where the symlink to the pseudo-terminal goes
  CardConfig card;
  long baud = 0;  // 0: no speed limit
  std::string program_out;
  std::string record_sent;
  std::string trace;
  std::string script;
  bool seed_given = false;
  bool quiet_log = false;
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name. Fails with a message naming the bad argument.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

std::string HelpText();

}  // namespace velmora::cardsim
