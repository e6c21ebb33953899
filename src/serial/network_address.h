// Serial ports on the network: a terminal server puts a card's serial line on a TCP port.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

struct NetworkAddress {
  // tcp://: the line's bytes as they are; rfc2217://: Telnet with the COM port option.
  enum class Scheme { RawTcp, Rfc2217 };
  Scheme scheme = Scheme::RawTcp;
  std::string host;  // a name or an address; IPv6 without its brackets
  int port = 0;      // 1..65535
};

// Whether a port table entry names a network port at all ("scheme://..."), well formed or not.
bool IsNetworkEntry(std::string_view device);

// "tcp://HOST:PORT" or "rfc2217://HOST:PORT" ("[::1]" for an IPv6 address); nothing when the
// scheme is unknown, the host empty or the port missing or out of range, and then why in *fault.
std::optional<NetworkAddress> ParseNetworkAddress(std::string_view device,
                                                  std::string* fault = nullptr);

}  // namespace velmora
