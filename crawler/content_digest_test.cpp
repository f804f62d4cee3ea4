// The content digest of files (the "MD5" field of their records).
#include "crawler/content_digest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/scratch_dir.h"

namespace lun {
namespace {

TEST(ContentDigest, FilesAreDigestedOverAllTheirBytes) {
  ScratchDir dir;
  const struct {
    const char* name;
    std::string bytes;
    const char* md5;
  } cases[] = {
      {"empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
      // Longer than one read.
      {"long", std::string(200000, 'a'), "561b1994f6baacd6e5eaf4baaa12849f"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(dir.File(c.name), std::ios::binary) << c.bytes;
    EXPECT_EQ(Md5OfFile(dir.File(c.name)), c.md5);
  }
}

TEST(ContentDigest, WhatCannotBeReadHasNoDigest) {
  ScratchDir dir;
  EXPECT_EQ(Md5OfFile(dir.File("missing")), "");
  EXPECT_EQ(Md5OfFile(dir.path()), "") << "a directory";
}

}  // namespace
}  // namespace lun
