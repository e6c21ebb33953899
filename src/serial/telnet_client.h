// The client side of Telnet with the COM port control option, as terminal servers speak it:
// the serial line's bytes travel with 0xFF doubled, options are negotiated, and the client sets
// the far end's line to 57600 baud, 8 data bits, no parity, 1 stop bit.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

class TelnetClient {
 public:
  // What the client says first: it offers binary transfer both ways and the COM port option.
  std::string Start();
  // Bytes from the server: the serial line's bytes in them are appended to `line`, the
  // client's answers to the negotiation to `reply`. Commands may be split across calls.
  void Receive(std::string_view bytes, std::string& line, std::string& reply);
  // The serial line's bytes as they go to the server.
  static std::string Escape(std::string_view line);
  // The server sent something no Telnet server would (an endless subnegotiation); nothing it
  // sends from there on is read.
  bool Broken() const { return broken_; }

 private:
  enum class State { Data, Command, Option, Sub, SubCommand };
  void Negotiate(std::uint8_t verb, std::uint8_t option, std::string& reply);
  void LineSettings(std::string& reply);

  State state_ = State::Data;
  std::uint8_t verb_ = 0;
  std::string sub_;  // a subnegotiation being read
  bool lastCr_ = false;
  bool broken_ = false;
  // Per option: we do it, the server does it, and whether we asked for either ourselves.
  std::array<bool, 256> ours_{}, theirs_{}, askedOurs_{}, askedTheirs_{};
};

}  // namespace velmora
