#include "shell/instance_channel.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "platform/scratch_dir.h"

namespace lun {
namespace {

TEST(InstanceChannelTest, ASecondStartReachesTheRunningOne) {
  ScratchDir home;
  EXPECT_FALSE(InstanceChannel::AskRunningInstance(home.path(), kQuickSearchRequest));
  InstanceChannel channel;
  ASSERT_TRUE(channel.Listen(home.path()));
  QSignalSpy shown(&channel, &InstanceChannel::QuickSearchRequested);
  EXPECT_TRUE(InstanceChannel::AskRunningInstance(home.path(), kQuickSearchRequest));
  EXPECT_TRUE(shown.wait(5000));
  // Anything else is not a request.
  EXPECT_TRUE(InstanceChannel::AskRunningInstance(home.path(), "rm -rf"));
  EXPECT_FALSE(shown.wait(300));
  EXPECT_EQ(shown.count(), 1);
}

}  // namespace
}  // namespace lun
