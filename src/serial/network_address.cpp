// Reading the network ports of the port table.
#include "serial/network_address.h"

#include <charconv>

namespace velmora {

bool IsNetworkEntry(std::string_view device) {
  return device.find("://") != std::string_view::npos;
}

std::optional<NetworkAddress> ParseNetworkAddress(std::string_view device, std::string* fault) {
  const auto refuse = [fault](const char* why) {
    if (fault) *fault = why;
    return std::nullopt;
  };
  const auto sep = device.find("://");
  if (sep == std::string_view::npos) return refuse("not a network address");
  NetworkAddress address;
  const std::string_view scheme = device.substr(0, sep);
  if (scheme == "tcp")
    address.scheme = NetworkAddress::Scheme::RawTcp;
  else if (scheme == "rfc2217")
    address.scheme = NetworkAddress::Scheme::Rfc2217;
  else
    return refuse("the address must begin with tcp:// or rfc2217://");
  std::string_view rest = device.substr(sep + 3);
  const auto colon = rest.rfind(':');
  const auto bracket = rest.rfind(']');
  if (colon == std::string_view::npos || (bracket != std::string_view::npos && colon < bracket))
    return refuse("the address has no port (HOST:PORT)");
  std::string_view host = rest.substr(0, colon);
  const std::string_view digits = rest.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.empty()) return refuse("the address has no host");
  // Nothing but the address: no path, no user, no second port.
  if (host.find_first_of("/@[] ") != std::string_view::npos)
    return refuse("only HOST:PORT may follow the scheme");
  if (host.find(':') != std::string_view::npos && rest.front() != '[')
    return refuse("an IPv6 address goes in brackets ([::1]:PORT)");
  int port = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size() || port < 1 ||
      port > 65535)
    return refuse("the port must be a number from 1 to 65535");
  address.host = std::string(host);
  address.port = port;
  return address;
}

}  // namespace velmora
