#include "web/path_map.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>

#include "platform/file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

class PathMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.File("root") + "/";
    ASSERT_TRUE(MakeDirectories(root_ + "LUN/sub"));
    ASSERT_TRUE(MakeDirectories(dir_.File("root2")));
    for (const char* name : {"LUN/index.shl", "LUN/a b.gif", "LUN/Search.shl", "LUN/sub/x.txt"}) {
      ASSERT_EQ(TouchFile(DefaultFileSystem(), root_ + name), 0);
    }
    ASSERT_EQ(TouchFile(DefaultFileSystem(), dir_.File("secret.txt")), 0);
    ASSERT_EQ(TouchFile(DefaultFileSystem(), dir_.File("root2/x.txt")), 0);
    ASSERT_EQ(symlink(dir_.path().c_str(), (root_ + "LUN/out").c_str()), 0);
  }
  ScratchDir dir_;
  std::string root_;
};

struct MapCase {
  const char* path;
  const char* query_before;
  const char* mapped;  // relative to the root; nullptr: not found
  bool directory;
  const char* query_after;
};

TEST_F(PathMapTest, Table) {
  const std::array<MapCase, 16> cases = {{
      {"/LUN/index.shl", "", "LUN/index.shl", false, ""},
      {"/LUN/", "", "LUN/", true, ""},
      {"/LUN", "", "LUN/", true, ""},
      {"/", "", "", true, ""},
      {"/LUN/a b.gif", "x=1", "LUN/a b.gif", false, "x=1"},
      {"/LUN/Search.shl/a=1/b=2", "", "LUN/Search.shl", false, "a=1&b=2"},
      {"/LUN/Search.shl/a=1", "q=x", "LUN/Search.shl", false, "q=x&a=1"},
      {"\\LUN\\sub\\x.txt", "", "LUN/sub/x.txt", false, ""},
      {"//LUN///sub//x.txt", "", "LUN/sub/x.txt", false, ""},
      {"/LUN/./sub/../index.shl", "", "LUN/index.shl", false, ""},
      // ".." never climbs above the root: these stay inside it.
      {"/../secret.txt", "", nullptr, false, ""},
      {"/../../LUN/index.shl", "", "LUN/index.shl", false, ""},
      {"/..\\..\\secret.txt", "", nullptr, false, ""},
      {"/LUN/missing.txt", "", nullptr, false, ""},
      {"LUN/index.shl", "", nullptr, false, ""},  // no leading "/": no base to map on
      {"http://x/../../secret.txt", "", nullptr, false, ""},
  }};
  for (const MapCase& c : cases) {
    SCOPED_TRACE(c.path);
    std::string query = c.query_before;
    const MappedPath mapped = MapPath(root_, c.path, &query);
    if (c.mapped == nullptr) {
      EXPECT_FALSE(mapped.found) << mapped.path;
      continue;
    }
    ASSERT_TRUE(mapped.found);
    EXPECT_EQ(mapped.path, root_ + c.mapped);
    EXPECT_EQ(mapped.is_directory, c.directory);
    EXPECT_EQ(query, c.query_after);
  }
}

TEST_F(PathMapTest, NulByteIsNotMapped) {
  std::string query;
  EXPECT_FALSE(MapPath(root_, std::string_view("/LUN/index.shl\0.txt", 19), &query).found);
}

TEST_F(PathMapTest, RootCheckResolvesLinksAndComparesWholeComponents) {
  EXPECT_TRUE(IsUnderRoot(root_, root_ + "LUN/index.shl"));
  EXPECT_TRUE(IsUnderRoot(root_, root_));
  // A link inside the root that points out of it maps, but is not under it.
  std::string query;
  const MappedPath through_link = MapPath(root_, "/LUN/out/secret.txt", &query);
  ASSERT_TRUE(through_link.found);
  EXPECT_FALSE(IsUnderRoot(root_, through_link.path));
  EXPECT_FALSE(IsUnderRoot(root_, dir_.File("root2/x.txt")));  // shares the prefix "root"
  EXPECT_FALSE(IsUnderRoot(root_, root_ + "LUN/../../secret.txt"));
  EXPECT_FALSE(IsUnderRoot(root_, root_ + "LUN/missing"));
}

}  // namespace
}  // namespace lun
