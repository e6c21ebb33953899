#include "serial/telnet_client.h"

namespace velmora {
namespace {

constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                       kSe = 240;
constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// COM port option commands the client sends.
constexpr std::uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                       kSetControl = 5;
constexpr std::uint8_t kParityNone = 1, kStopBits1 = 1, kNoFlowControl = 1;
// Longer than any answer the option has; a server past it is not speaking Telnet.
constexpr std::size_t kMaxSubnegotiation = 512;

std::string Command(std::uint8_t verb, std::uint8_t option) {
  return {static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

bool WeOffer(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}
bool WeAccept(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead;
}

}  // namespace

std::string TelnetClient::Start() {
  askedOurs_[kBinary] = askedTheirs_[kBinary] = askedOurs_[kComPort] = true;
  return Command(kWill, kBinary) + Command(kDo, kBinary) + Command(kWill, kComPort);
}

std::string TelnetClient::Escape(std::string_view line) {
  std::string out;
  out.reserve(line.size() + 8);
  for (const char ch : line) {
    out += ch;
    if (static_cast<std::uint8_t>(ch) == kIac) out += ch;
  }
  return out;
}

void TelnetClient::LineSettings(std::string& reply) {
  const auto sub = [&reply](std::string body) {
    reply += Command(kSb, kComPort);
    reply += Escape(body);
    reply += {static_cast<char>(kIac), static_cast<char>(kSe)};
  };
  const std::uint32_t baud = 57600;
  sub({static_cast<char>(kSetBaudRate), static_cast<char>(baud >> 24),
       static_cast<char>(baud >> 16 & 0xFF), static_cast<char>(baud >> 8 & 0xFF),
       static_cast<char>(baud & 0xFF)});
  sub({static_cast<char>(kSetDataSize), 8});
  sub({static_cast<char>(kSetParity), static_cast<char>(kParityNone)});
  sub({static_cast<char>(kSetStopSize), static_cast<char>(kStopBits1)});
  sub({static_cast<char>(kSetControl), static_cast<char>(kNoFlowControl)});
}

// Each side's state changes at most once per request, so answers never loop. DO and DONT are
// about our side of an option, WILL and WONT about the server's; `asked` marks a request we
// made, which the server's agreement answers without a word.
void TelnetClient::Negotiate(std::uint8_t verb, std::uint8_t option, std::string& reply) {
  const bool ourSide = verb == kDo || verb == kDont;
  const bool wanted = verb == kDo || verb == kWill;
  bool& on = (ourSide ? ours_ : theirs_)[option];
  bool& asked = (ourSide ? askedOurs_ : askedTheirs_)[option];
  const std::uint8_t yes = ourSide ? kWill : kDo, no = ourSide ? kWont : kDont;
  if (wanted && !on && (ourSide ? WeOffer(option) : WeAccept(option))) {
    on = true;
    if (!asked) reply += Command(yes, option);
    if (ourSide && option == kComPort) LineSettings(reply);
  } else if (wanted != on) {
    reply += Command(no, option);  // refused, or agreed to stop
    on = false;
  }
  asked = false;
}

void TelnetClient::Receive(std::string_view bytes, std::string& line, std::string& reply) {
  // Every byte of a subnegotiation counts against its bound, an escaped 0xFF as much as any.
  const auto keep = [this](char ch) {
    if (sub_.size() < kMaxSubnegotiation)
      sub_ += ch;
    else
      broken_ = true;
  };
  for (const char ch : bytes) {
    if (broken_) return;  // nothing after the break is the card's
    const auto byte = static_cast<std::uint8_t>(ch);
    switch (state_) {
      case State::Data:
        if (byte == kIac) {
          state_ = State::Command;
        } else if (byte == 0 && lastCr_ && !theirs_[kBinary]) {
          lastCr_ = false;  // outside binary mode a bare CR travels as CR NUL
        } else {
          line += ch;
          lastCr_ = byte == '\r';
        }
        break;
      case State::Command:
        if (byte == kIac) {
          line += ch;
          lastCr_ = false;
          state_ = State::Data;
        } else if (byte >= kWill && byte <= kDont) {
          verb_ = byte;
          state_ = State::Option;
        } else if (byte == kSb) {
          sub_.clear();
          state_ = State::Sub;
        } else {
          state_ = State::Data;  // NOP, GA, a stray SE and the like say nothing to a client
        }
        break;
      case State::Option:
        Negotiate(verb_, byte, reply);
        state_ = State::Data;
        break;
      case State::Sub:
        if (byte == kIac)
          state_ = State::SubCommand;
        else
          keep(ch);
        break;
      case State::SubCommand:
        // The server's answers to the line settings and its notifications change nothing here.
        if (byte == kIac) {
          keep(ch);
          state_ = State::Sub;
        } else {
          state_ = byte == kSe ? State::Data : State::Sub;
        }
        break;
    }
  }
}

}  // namespace velmora
