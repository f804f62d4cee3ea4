#include "web/connection_admission.h"

#include <gtest/gtest.h>

namespace lun {
namespace {

TEST(ConnectionAdmissionTest, LoopbackAddresses) {
  EXPECT_TRUE(IsLoopbackAddress("127.0.0.1"));
  EXPECT_TRUE(IsLoopbackAddress("127.255.0.9"));
  for (const char* other : {"128.0.0.1", "10.0.0.1", "0.0.0.0", "127.evil", "", "::1"}) {
    EXPECT_FALSE(IsLoopbackAddress(other)) << other;
  }
}

// A flood from one address, then from many, never takes the places kept for
// the local user, and every place comes back when its connection ends.
TEST(ConnectionAdmissionTest, RemotePeersNeverTakeTheLoopbackReserve) {
  ConnectionLimits limits;
  limits.max_connections = 10;
  limits.loopback_reserve = 6;
  limits.max_per_remote_address = 2;
  ConnectionAdmission admission(limits);

  EXPECT_TRUE(admission.Admit("192.0.2.7"));
  EXPECT_TRUE(admission.Admit("192.0.2.7"));
  EXPECT_FALSE(admission.Admit("192.0.2.7")) << "per-address cap";
  EXPECT_TRUE(admission.Admit("192.0.2.8"));
  EXPECT_TRUE(admission.Admit("192.0.2.9"));
  EXPECT_FALSE(admission.Admit("192.0.2.10")) << "remote places used up";

  for (int i = 0; i < 6; ++i) EXPECT_TRUE(admission.Admit("127.0.0.1")) << i;
  EXPECT_FALSE(admission.Admit("127.0.0.1")) << "the total cap holds for everyone";
  EXPECT_EQ(admission.total(), 10u);

  admission.Release("127.0.0.1");
  EXPECT_FALSE(admission.Admit("192.0.2.10")) << "a loopback place stays loopback's";
  EXPECT_TRUE(admission.Admit("127.0.0.1"));

  admission.Release("192.0.2.7");
  EXPECT_TRUE(admission.Admit("192.0.2.10")) << "a remote place came back";
  EXPECT_FALSE(admission.Admit("192.0.2.7"));
  admission.Release("192.0.2.10");
  EXPECT_TRUE(admission.Admit("192.0.2.7"));
}

}  // namespace
}  // namespace lun
