#include "crawl_service/peer_credentials.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

#include <gtest/gtest.h>

namespace lun {
namespace {

// Two lines of a real table layout: the service's listening socket (uid
// 1000) and a client socket 127.0.0.1:40000 -> 127.0.0.1:8485 of uid 1001.
constexpr char kTcp[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 0100007F:2125 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 1 1 0 100 0 0 10 0\n"
    "   1: 0100007F:9C40 0100007F:2125 01 00000000:00000000 00:00000000 00000000  1001        0 2 1 0 20 4 30 10 -1\n";
constexpr char kTcp6[] =
    "  sl  local_address                         remote_address                        st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 0000000000000000FFFF00000100007F:9C41 0000000000000000FFFF00000100007F:2125 01 00000000:00000000 00:00000000 00000000  1002        0 3 1 0 20 4 30 10 -1\n";

TEST(PeerCredentialsTest, FindsTheOwnerOfTheMatchingSocket) {
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

TEST(PeerCredentialsTest, ALoopbackConnectionOfOurOwnIsOurs) {
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
  close(accepted);
  close(client);
  close(server);
}

}  // namespace
}  // namespace lun
