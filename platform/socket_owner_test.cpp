#include "platform/socket_owner.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

namespace lun {
namespace {

// Two lines of a real table layout: the service's listening socket (uid
// 1000) and a client socket 127.0.0.1:40000 -> 127.0.0.1:8485 of uid 1001.
constexpr char kTcp[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
    "inode\n"
    "   0: 0100007F:2125 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 1 "
    "1 0 100 0 0 10 0\n"
    "   1: 0100007F:9C40 0100007F:2125 01 00000000:00000000 00:00000000 00000000  1001        0 2 "
    "1 0 20 4 30 10 -1\n";
constexpr char kTcp6[] =
    "  sl  local_address                         remote_address                        st tx_queue "
    "rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 0000000000000000FFFF00000100007F:9C41 0000000000000000FFFF00000100007F:2125 01 "
    "00000000:00000000 00:00000000 00000000  1002        0 3 1 0 20 4 30 10 -1\n";

TEST(SocketOwnerTest, FindsTheOwnerOfTheMatchingSocket) {
  const Endpoint service{0x7F000001, 8485};
  struct Case {
    const char* table;
    bool v6;
    Endpoint local, remote;
    std::optional<uid_t> uid;
  };
  const std::array<Case, 5> cases{{
      {kTcp, false, {0x7F000001, 40000}, service, 1001},
      // The ends swapped: that is our own socket's view, not the peer's.
      {kTcp, false, service, {0x7F000001, 40000}, std::nullopt},
      {kTcp, false, {0x7F000001, 40001}, service, std::nullopt},
      // An IPv6 socket talking to us through a v4-mapped address.
      {kTcp6, true, {0x7F000001, 40001}, service, 1002},
      {"garbage\n0: zz:zz yy 01 a b c 1000\n", false, {0x7F000001, 40000}, service, std::nullopt},
  }};
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(FindSocketUid(cases[i].table, cases[i].v6, cases[i].local, cases[i].remote),
              cases[i].uid);
  }
}

TEST(SocketOwnerTest, FindsTheListenersOfAPort) {
  // 127.0.0.1:8485 of uid 1000, 0.0.0.0:8485 of uid 1001, a connection
  // from port 8485 and a listener on 127.0.0.2:8485 (out of reach).
  constexpr char kTable[] =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n"
      "   0: 0100007F:2125 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 0 1\n"
      "   1: 00000000:2125 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1001 0 2\n"
      "   2: 0100007F:2125 0100007F:9C40 01 00000000:00000000 00:00000000 00000000  1002 0 3\n"
      "   3: 0200007F:2125 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1003 0 4\n";
  constexpr char kTable6[] =
      "  sl  local_address                         remote_address                        st\n"
      "   0: 00000000000000000000000000000000:2125 00000000000000000000000000000000:0000 0A "
      "00000000:00000000 00:00000000 00000000  1004 0 5\n"
      "   1: 00000000000000000000000001000000:2125 00000000000000000000000000000000:0000 0A "
      "00000000:00000000 00:00000000 00000000  1005 0 6\n";
  EXPECT_EQ(FindListenerUids(kTable, false, 8485), (std::vector<uid_t>{1000, 1001}));
  EXPECT_EQ(FindListenerUids(kTable6, true, 8485), (std::vector<uid_t>{1004})) << "not [::1]";
  EXPECT_TRUE(FindListenerUids(kTable, false, 8486).empty());
}

TEST(SocketOwnerTest, ALoopbackConnectionOfOurOwnIsOurs) {
  const int server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(server, 1), 0);
  socklen_t len = sizeof addr;
  getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len);
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const int accepted = accept(server, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  EXPECT_EQ(PeerUid(accepted), getuid());
  EXPECT_EQ(LoopbackListenerUids(ntohs(addr.sin_port)), std::vector<uid_t>{getuid()});
  uint32_t loopback = 0;
  ASSERT_TRUE(ParseIpv4("127.0.0.1", &loopback));
  EXPECT_EQ(loopback, 0x7F000001u);
  EXPECT_FALSE(ParseIpv4("127.1", &loopback));
  close(accepted);
  close(client);
  close(server);
}

}  // namespace
}  // namespace lun
