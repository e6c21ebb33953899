// The Telnet layer against any server. The input is read as what a server sends, piece by piece
// (line bytes, option requests, subnegotiations, other commands, or raw bytes of any kind), and
// delivered whole and in chunks of one size. Checked: the line's bytes come out exactly, with
// nothing of the protocol among them (outside binary mode CR NUL stands for CR); every request
// gets at most one answer (the COM port option its line settings too); a subnegotiation past
// 512 bytes, escaped 0xFF or not, breaks the stream, which then passes nothing more on; chunks
// read as the whole does.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "serial/telnet_client.h"

namespace {

void Expect(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_telnet: invariant violated: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using velmora::TelnetClient;
  constexpr char kIac = '\xFF';
  FuzzedDataProvider in(data, size);
  const std::size_t chunk = in.ConsumeIntegralInRange<std::size_t>(1, 64);
  std::string wire, expected;
  std::size_t requests = 0;
  bool exact = true, breaks = false, binary = false, cr = false;
  while (in.remaining_bytes() > 0) {
    switch (in.ConsumeIntegralInRange(0, 4)) {
      case 0: {  // line bytes
        const std::string bytes = in.ConsumeRandomLengthString(64);
        wire += TelnetClient::Escape(bytes);
        for (const char ch : bytes) {
          if (!(ch == 0 && cr && !binary)) expected += ch;
          cr = ch == '\r';
        }
        break;
      }
      case 1: {  // WILL, WONT, DO or DONT
        const auto verb = in.ConsumeIntegralInRange<std::uint8_t>(251, 254);
        const auto option = in.ConsumeIntegral<std::uint8_t>();
        wire += {kIac, static_cast<char>(verb), static_cast<char>(option)};
        ++requests;
        if (option == 0 && verb <= 252) binary = verb == 251;  // the server's binary mode
        break;
      }
      case 2: {  // a subnegotiation
        const std::string body = in.ConsumeRandomLengthString(1100);
        wire += std::string{kIac, '\xFA'} + TelnetClient::Escape(body) + std::string{kIac, '\xF0'};
        breaks |= body.size() > 512;
        break;
      }
      case 3:  // a command that says nothing to a client (SE, NOP, ..., GA)
        wire += {kIac, static_cast<char>(in.ConsumeIntegralInRange(240, 249))};
        break;
      default:
        wire += in.ConsumeRandomLengthString(64);
        exact = false;
    }
  }
  TelnetClient whole, pieces;
  std::string line, reply, pieceLine, pieceReply;
  whole.Receive(wire, line, reply);
  for (std::size_t at = 0; at < wire.size(); at += chunk) {
    const bool broken = pieces.Broken();
    const std::string before = pieceLine + pieceReply;
    pieces.Receive(std::string_view(wire).substr(at, chunk), pieceLine, pieceReply);
    Expect(!broken || (pieces.Broken() && pieceLine + pieceReply == before),
           "a broken stream passed more on");
  }
  Expect(line == pieceLine && reply == pieceReply && whole.Broken() == pieces.Broken(),
         "the stream in chunks reads otherwise than whole");
  Expect(line.size() <= wire.size(), "more line bytes than were received");
  if (!exact) return 0;
  Expect(whole.Broken() == breaks, "an overlong subnegotiation did not break the stream, or more");
  Expect(breaks ? expected.starts_with(line) : line == expected,
         "the line's bytes are not what the server sent");
  // 41 bytes: the COM port option's agreement and its five line settings.
  Expect(reply.size() <= 41 * requests, "answers beyond one per request");
  return 0;
}
