// The network port against a terminal server that refuses a held line (the rest of the port is
// driven through ser2net, end to end).
#include "platform/qt/io/qt_network_port.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTest>

namespace velmora {
namespace {

TEST(QtNetworkPortTest, AServerThatRefusesTheLineIsHeardOutWhateverTheScheme) {
  for (const std::string scheme : {"tcp", "rfc2217"}) {
    SCOPED_TRACE(scheme);
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

    QtNetworkPort port;
    const std::string url = scheme + "://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    port.devices = [&](int) { return url; };
    std::optional<OpenFailure> failed;
    port.onOpenFailed = [&](const OpenFailure& failure) { failed = failure; };
    ASSERT_FALSE(port.Open());
    port.Output("cpu\r");
    int server = -1;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (server = ::accept(listener, nullptr, nullptr)) >= 0; }, 2000));
    ::close(listener);
    QTest::qWait(100);
    // A server that closes on bytes it never read resets the connection, and the reset can
    // overtake its last words: nothing may reach it before it has had the time to refuse.
    int unread = -1;
    ::ioctl(server, FIONREAD, &unread);
    EXPECT_EQ(unread, 0);
    const std::string refusal = "Port already in use\r\n";
    ::send(server, refusal.data(), refusal.size(), 0);
    ::close(server);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.has_value(); }, 2000));
    EXPECT_EQ(failed->number, kCommErrorPortBusy) << failed->description;
    EXPECT_FALSE(port.IsOpen());
  }
}

}  // namespace
}  // namespace velmora
