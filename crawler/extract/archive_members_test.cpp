#include "crawler/extract/archive_members.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "crawler/extract/extract_test_util.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"
#include "platform/text.h"

namespace lun {
namespace {

// Members read as the crawler would want them: documents and text, not
// pictures.
bool WantsDocuments(std::string_view type) { return type != "JPG" && type != "BIN"; }

struct Walked {
  ArchiveSummary summary;
  std::vector<ArchiveMember> members;

  std::u16string TextOf(const std::string& key) const {
    for (const ArchiveMember& m : members) {
      if (m.key == key) return m.text;
    }
    return u"<no member " + ToWide(key) + u">";
  }
};

Walked Walk(const std::string& bytes) {
  Walked w;
  w.summary = WalkArchiveBytes(bytes, "/d/a.zip", &WantsDocuments, [&](const ArchiveMember& m) {
    w.members.push_back(m);
    return true;
  });
  return w;
}

const ZipEntries kDocuments = {
    {"docs/report.docx", MakeDocx({"quarterly figures"})},
    {"notes.txt", "plain notes 中文"},
    {"picture.jpg", "\xFF\xD8\xFF not read"},
};

TEST(ArchiveMembersTest, EveryFormatGivesItsMembersWithKeysAndText) {
  struct Case {
    const char* format;
    const char* filter;
  };
  for (const Case& c : {Case{"zip", ""}, Case{"tar", ""}, Case{"tar", "gzip"}, Case{"tar", "bzip2"},
                        Case{"tar", "xz"}, Case{"7z", ""}}) {
    SCOPED_TRACE(std::string(c.format) + "/" + c.filter);
    const Walked w = Walk(MakeArchive(c.format, c.filter, kDocuments));
    EXPECT_TRUE(w.summary.opened);
    EXPECT_FALSE(w.summary.capped);
    ASSERT_EQ(w.members.size(), 2u);
    EXPECT_EQ(w.members[0].key, "/d/a.zip::docs/report.docx");
    EXPECT_EQ(w.members[0].name, "report.docx");
    EXPECT_EQ(w.members[0].mtime, 1700000000);
    EXPECT_EQ(w.TextOf("/d/a.zip::docs/report.docx"), u"quarterly figures");
    EXPECT_EQ(w.TextOf("/d/a.zip::notes.txt"), u"plain notes 中文");
    EXPECT_EQ(w.members[1].size, std::string("plain notes 中文").size());
    // Every member is listed, the pictures too.
    EXPECT_EQ(w.summary.names, u"docs/report.docx\nnotes.txt\npicture.jpg");
  }
}

TEST(ArchiveMembersTest, NestedArchivesAreReadOneLevelDeep) {
  const std::string innermost = MakeArchive("zip", "", {{"deepest.txt", "too deep"}});
  const std::string inner =
      MakeArchive("tar", "gzip", {{"in.txt", "inner words"}, {"third.zip", innermost}});
  // An archive that holds itself (here three levels of it) stops at the
  // same depth.
  const std::string self = MakeArchive("zip", "", {{"self.zip", innermost}});
  const Walked w = Walk(MakeArchive("zip", "", {{"old.tar.gz", inner}, {"self.zip", self}}));
  ASSERT_EQ(w.members.size(), 1u);
  EXPECT_EQ(w.members[0].key, "/d/a.zip::old.tar.gz::in.txt");
  EXPECT_EQ(w.members[0].text, u"inner words");
  EXPECT_EQ(w.summary.names,
            u"old.tar.gz\nold.tar.gz::in.txt\nold.tar.gz::third.zip\nself.zip\nself.zip::self.zip");
}

TEST(ArchiveMembersTest, HostileArchivesStopAtTheCaps) {
  {
    // Its central directory gives the size: the member is passed over
    // without a byte inflated.
    SCOPED_TRACE("zip bomb: 130 MiB of zeros named as text");
    const Walked w = Walk(MakeZipBomb("bomb.txt", 130u << 20));
    EXPECT_FALSE(w.summary.capped);
    EXPECT_TRUE(w.members.empty());
    EXPECT_EQ(w.summary.names, u"bomb.txt");
  }
  {
    // Passing over a member of a compressed stream means inflating it.
    SCOPED_TRACE("tar.gz bomb: 130 MiB of zeros then a document");
    const Walked w = Walk(MakeArchive(
        "tar", "gzip", {{"bomb.txt", std::string(130u << 20, '\0')}, {"after.txt", "late"}}));
    EXPECT_TRUE(w.summary.capped);
    EXPECT_TRUE(w.members.empty());
  }
  {
    SCOPED_TRACE("100,000 members");
    ZipEntries many;
    for (int i = 0; i < 100000; ++i) many.push_back({"f" + std::to_string(i) + ".txt", "x"});
    const Walked w = Walk(MakeArchive("zip", "", many));
    EXPECT_TRUE(w.summary.capped);
    EXPECT_EQ(w.members.size(), kArchiveMaxMembers);
  }
  {
    SCOPED_TRACE("names that leave the archive");
    const Walked w = Walk(MakeArchive("tar", "",
                                      {{"../../etc/passwd.txt", "a"},
                                       {"/abs.txt", "b"},
                                       {"ok/../../x.txt", "c"},
                                       {"./fine.txt", "d"},
                                       {"win\\dir\\doc.txt", "e"}}));
    ASSERT_EQ(w.members.size(), 2u);
    EXPECT_EQ(w.members[0].key, "/d/a.zip::fine.txt");
    EXPECT_EQ(w.members[1].key, "/d/a.zip::win/dir/doc.txt");
  }
  {
    SCOPED_TRACE("not an archive, and one cut short");
    EXPECT_FALSE(Walk("just some text, no archive").summary.opened);
    const std::string tgz = MakeArchive("tar", "gzip", kDocuments);
    const Walked cut = Walk(tgz.substr(0, tgz.size() / 2));
    EXPECT_LE(cut.members.size(), 2u);
  }
}

TEST(ArchiveMembersTest, FilesAreWalkedInTheCrawlServiceProgram) {
  ScratchDir dir;
  const std::string path = dir.File("bundle.tar.xz");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, MakeArchive("tar", "xz", kDocuments)),
            0);
  // Chosen: Word files and text; the picture is only listed.
  const TypeLists lists{"|DOCX|JPEG|", "|TXT|", "", ""};
  auto walk = [&](const std::string& archive, int keep) {
    std::vector<ArchiveMember> members;
    const ArchiveSummary summary = ForEachArchiveMember(
        LUNCRAWL_PATH, archive, lists, false, nullptr, [&](const ArchiveMember& m) {
          members.push_back(m);
          return static_cast<int>(members.size()) < keep;
        });
    return std::make_pair(summary, members);
  };
  const auto [summary, members] = walk(path, 100);
  EXPECT_TRUE(summary.opened);
  EXPECT_FALSE(summary.capped);
  EXPECT_EQ(summary.names, u"docs/report.docx\nnotes.txt\npicture.jpg");
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].key, path + "::docs/report.docx");
  EXPECT_EQ(members[0].text, u"quarterly figures");
  EXPECT_EQ(members[1].name, "notes.txt");
  EXPECT_EQ(members[1].text, u"plain notes 中文");

  // The caller may stop after the first member; a missing file, or a
  // reader program that is not there, opens nothing.
  EXPECT_EQ(walk(path, 1).second.size(), 1u);
  EXPECT_FALSE(walk(dir.File("none.zip"), 100).first.opened);
  EXPECT_FALSE(ForEachArchiveMember(dir.File("no-such-program"), path, lists, false, nullptr,
                                    [](const ArchiveMember&) { return true; })
                   .opened);
}

// Pictures inside an archive are read by text recognition when it is on,
// in the member reader as the crawl service reads those outside. The
// engine is a stand-in script first in PATH.
TEST(ArchiveMembersTest, PicturesInsideAreRecognizedWhenRecognitionIsOn) {
  ScratchDir dir;
  const std::string bin = dir.File("bin");
  MakeDirectories(bin);
  const std::string engine = JoinPath(bin, "tesseract");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), engine,
                                  "#!/bin/sh\ncat >/dev/null\necho picture words\n"),
            0);
  chmod(engine.c_str(), 0755);
  const std::string path_before = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (bin + ":" + path_before).c_str(), 1);
  const std::string zip = dir.File("scans.zip");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), zip,
                                  MakeArchive("zip", "", {{"scan.png", "\x89PNG\r\n\x1a\n"}})),
            0);
  const TypeLists lists{"|ZIP|PNG|", "", "", ""};
  for (bool recognize : {false, true}) {
    SCOPED_TRACE(recognize);
    std::vector<ArchiveMember> members;
    ForEachArchiveMember(LUNCRAWL_PATH, zip, lists, recognize, nullptr,
                         [&](const ArchiveMember& m) {
                           members.push_back(m);
                           return true;
                         });
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].text, recognize ? u"picture words" : u"");
  }
  setenv("PATH", path_before.c_str(), 1);
}

}  // namespace
}  // namespace lun
