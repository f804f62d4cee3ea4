#include "pages/fts_object.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "automation/dictionary.h"
#include "config/password_hash.h"
#include "crawler/extract/extract_test_util.h"
#include "crawler/extract/plugin_registry.h"
#include "crawler/saved_searches.h"
#include "crawler/scan_scope.h"
#include "engine/storage/data_table.h"
#include "pages/file_types.h"
#include "pages/fts_test_fixture.h"
#include "platform/autostart.h"
#include "platform/desktop/desktop_apps.h"
#include "platform/desktop/machine.h"
#include "platform/desktop/icon_theme.h"
#include "platform/env_guard.h"
#include "platform/paths.h"

namespace lun {
namespace {

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
  MakeDirectories(DirName(path));
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  chmod(path.c_str(), mode);
}

// The page's Response as far as FTS cares: End clears the writing flag,
// Clear sets it again.
class ResponseStub : public TableDispatch<ResponseStub> {
 public:
  ResponseStub() : TableDispatch(kTable) {}
  static const Table kTable;
  HResult End(std::span<Variant>, Variant*, ExcepInfo*) {
    writing = false;
    return S_OK;
  }
  HResult Clear(std::span<Variant>, Variant*, ExcepInfo*) {
    writing = true;
    return S_OK;
  }
  bool writing = true;
};

const ResponseStub::Table ResponseStub::kTable = {
    {{u"End", 1, DISPATCH_METHOD, 0, 0, {}, VT_EMPTY}, &ResponseStub::End},
    {{u"Clear", 2, DISPATCH_METHOD, 0, 0, {}, VT_EMPTY}, &ResponseStub::Clear},
};

class FtsObjectTest : public FtsFixture {
 protected:
  void SetUp() override {
    FtsFixture::SetUp();
    AddDocuments({{"report.txt", "txt", u"年度 alpha 报告"},
                  {"a+b (1).txt", "txt", u"beta"},
                  {"page.htm", "htm", u"alpha 网页"}});
    env().launch = [this](const std::vector<std::string>& argv) {
      launched_.push_back(argv);
      return true;
    };
  }

  // Runs `script` with a Response stub named "Response" beside FTS.
  ScriptRun RunWithResponse(std::string_view script, FtsPage page = {}) {
    auto response = std::make_shared<ResponseStub>();
    page.active = [r = response.get()] { return r->writing; };
    auto out = std::make_shared<ScriptOutput>();
    ScriptEngine engine;
    EXPECT_TRUE(engine.AddNamedItem(u"FTS", Fts(std::move(page)), false));
    EXPECT_TRUE(engine.AddNamedItem(u"Response", response, false));
    EXPECT_TRUE(engine.AddNamedItem(u"Out", out, false));
    ScriptRun run;
    run.ok = engine.Parse(ToWide(script)) && engine.Run();
    if (const ScriptErrorInfo* e = engine.last_error()) run.error = ToNarrow(e->description);
    run.output = out->written;
    return run;
  }

  // Writes a file and indexes it, the scratch folder a permitted root.
  void WriteIndexedFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    WriteFile(path, text, mode);
    IndexFile(path, files_.path());
  }

  FtsPage LocalPage(RecordingResponder* responder) {
    FtsPage page;
    page.responder = responder;
    page.local_user = true;
    return page;
  }

  std::vector<std::vector<std::string>> launched_;
  ScratchDir files_;
};

TEST(FileTypesTest, TableRows) {
  const auto rows = BuiltInFileTypes();
  ASSERT_EQ(rows.size(), 30u);
  EXPECT_EQ(rows[0].name, "Word文件");
  EXPECT_EQ(rows[0].types, "|DOC|DOCX|DOCM|");
  EXPECT_EQ(rows[1].types, "|XLS|XLSX|XLSM|");
  EXPECT_EQ(rows[2].types, "|PPT|PPTX|PPTM|");
  EXPECT_EQ(rows[3].types, "|HTM|HTX|HTT|HTML|HTA|");
  EXPECT_EQ(rows[3].description, "Html文件(*.HTM;*.HTX;*.HTT;*.HTML;*.HTA;)");
  EXPECT_EQ(rows[20].types, "|ZIP|TAR|GZ|TGZ|BZ2|TBZ|TBZ2|XZ|TXZ|7Z|");
  EXPECT_EQ(rows[23].types, "|PST|OST|");
  EXPECT_EQ(rows[28].types, "|DIRECTORY|");
  EXPECT_EQ(rows[28].description, "所有的目录名");
  EXPECT_EQ(rows[29].types, "|FILENAME|");
  EXPECT_EQ(rows[29].name, "所有文件名");
  EXPECT_EQ(FileTypeAt(30), nullptr);
  EXPECT_EQ(FileTypeAt(-1), nullptr);
  bool local_mail = false;
  for (const FileTypeRow& row : rows) {
    SCOPED_TRACE(std::string(row.name));
    // Every list is in the stored form the scope compares against.
    EXPECT_EQ(NormalizeTypeList(row.types), row.types);
    EXPECT_FALSE(row.description.empty());
    if (row.types == "|THUNDERBIRD|MAILDIR|") {
      local_mail = true;
      EXPECT_EQ(CategoryOfType("|THUNDERBIRD|"), "邮件");
    }
  }
  EXPECT_TRUE(local_mail);
}

TEST_F(FtsObjectTest, FileTypeAndPluginListsByIndex) {
  settings().SetValue(kSearchSection, key::kOtherTextTypes, "*.log;*.ini;");
  ScriptRun run = Run(R"(
    Out.Write FTS.LUNFilterCount
    Out.Write FTS.LUNFilterName(0) & "/" & FTS.LUNFilterType(0) & "/" & FTS.LUNFilterInfo(0)
    Out.Write FTS.LUNFilterName(29) & "/" & FTS.LUNFilterName(30) & "/" & FTS.LUNFilterName(-1)
    Out.Write FTS.FilterTotalCount
    Out.Write FTS.LUNPlugCount & "/" & FTS.MSNPlugCount & "/" & FTS.LUNPlugName(0) & "/" & FTS.MSNPlugType(0)
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output,
            "30;Word文件/|DOC|DOCX|DOCM|/Word文件(*.DOC;*.DOCX;*.DOCM;);所有文件名//;32;0/0//;");
}

TEST_F(FtsObjectTest, PluginListsComeFromTheRegistries) {
  // The loader tests' plug-ins, built beside this test's directory.
  const std::string dir = JoinPath(DirName(ProgramDirectory()), "crawler/extract");
  PluginRegistry lun_plugins, msn_plugins;
  if (!lun_plugins.LoadPlugin(JoinPath(dir, "test_plugin_pax.so")) ||
      !msn_plugins.LoadPlugin(JoinPath(dir, "test_plugin_later.so"))) {
    GTEST_SKIP() << "the test plug-ins are not built in " << dir;
  }
  env().plugins = &lun_plugins;
  env().msn_plugins = &msn_plugins;
  ScriptRun run = Run(R"(
    Out.Write FTS.LUNPlugCount & "/" & FTS.LUNPlugName(0) & "/" & FTS.LUNPlugType(0) & "/" & FTS.LUNPlugName(1)
    Out.Write FTS.MSNPlugCount & "/" & FTS.MSNPlugType(0) & "/" & FTS.MSNPlugType(-1)
    Out.Write FTS.FilterTotalCount
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output, "1/Test plug-in/PAX|PAD/;1/pad|PAQ/;32;");
}

TEST_F(FtsObjectTest, FileTypeIconFallsBackToFileGif) {
  WriteFile(files_.File("images/doc.gif"), "GIF89a");
  WriteFile(files_.File("images/PDF.gif"), "GIF89a");
  FtsPage page;
  page.map_path = [this](std::string_view path) { return files_.File(std::string(path)); };
  ScriptRun run = Run(R"(
    Out.Write FTS.FileTypeIcon("DOC", "images") & "/" & FTS.FileTypeIcon("PDF", "images")
    Out.Write FTS.FileTypeIcon("xyz", "images") & "/" & FTS.FileTypeIcon("", "images")
    Out.Write FTS.FileTypeIcon("../images/doc", "images") & "/" & FTS.FileTypeIcon("doc", "other")
  )",
                      page);
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output, "doc.gif/PDF.gif;File.gif/File.gif;File.gif/File.gif;");
  EXPECT_EQ(Run(R"(Out.Write FTS.FileTypeIcon("doc", "images"))").output, "File.gif;");
}

TEST(TransformCommandTest, EscapesTheQueryCharacters) {
  EXPECT_EQ(TransformCommand(u"a+b"), u"a%0x002B%b");
  EXPECT_EQ(TransformCommand(u"x y:z?"), u"x%0x0020%y%0x003A%z%0x003F%");
  EXPECT_EQ(TransformCommand(u"*()<>=[]{}-"),
            u"%0x002A%%0x0028%%0x0029%%0x003C%%0x003E%%0x003D%%0x005B%%0x005D%%0x007B%"
            u"%0x007D%%0x002D%");
  EXPECT_EQ(TransformCommand(u"中文.doc"), u"中文.doc");
}

TEST_F(FtsObjectTest, TransformedUserTextIsSearchedLiterally) {
  ScriptRun run = Run(R"(
    Set rs = FTS.Execute("[文档]:完整路径=" & FTS.TransformCommand("/docs/a+b (1).txt"))
    Out.Write rs.RecordCount & "/" & rs("文件名称")
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output, "1/a+b (1).txt;");
}

TEST_F(FtsObjectTest, TextHelpers) {
  ScriptRun run = Run(R"(
    Out.Write FTS.Thumbnail("JPG") & FTS.Thumbnail("jpeg") & FTS.Thumbnail("PNG")
    Out.Write FTS.Snap("文档") & FTS.Snap("其它") & FTS.Snap("图像")
    Out.Write FTS.GetFolder("/home/u/a.txt") & "|" & FTS.GetFolder("/a.txt") & "|" & FTS.GetFolder("a.txt")
    Out.Write FTS.GetFileName("/home/u/a.txt") & "|" & FTS.GetFileName("a.txt") & "|" & FTS.GetFileName("/home/")
    Out.Write FTS.UTF8ToGB2312("桌面 search")
    Out.Write FTS.MarkKeyword("a<b and b", "a**b")
    Out.Write FTS.KeywordNavigate("a*b")
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output,
            "TrueTrueFalse;TrueTrueFalse;/home/u|/|;a.txt|a.txt|;桌面 search;"
            "<font color=\"red\">a</font>&lt;<font color=\"magenta\">b</font> "
            "<font color=\"red\">a</font>nd <font color=\"magenta\">b</font>;"
            "<A href=#A0><font color=red>a</font></A> &nbsp;<A href=#B0><font "
            "color=magenta>b</font></A>;");
}

// The content snapshot marks a window of the hits: the count of all of
// them, and only those of the window marked and anchored.
TEST_F(FtsObjectTest, SnapshotMarksAWindowOfTheHits) {
  ScriptRun run = Run(R"(
    t = "a b a & a"
    Out.Write FTS.SnapshotHits(t, "*a*b")
    Out.Write FTS.MarkSnapshot(t, "*a*b", 1, 2)
    Out.Write FTS.MarkSnapshot(t, "a", 0, 100000)
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output,
            "4;"
            "a <A name=B0 href=#B0><font color=\"magenta\">b</font></A> "
            "<A name=A0 href=#A0><font color=\"red\">a</font></A> &amp; a;"
            "<A name=A0 href=#A1><font color=\"red\">a</font></A> b "
            "<A name=A1 href=#A2><font color=\"red\">a</font></A> &amp; "
            "<A name=A2 href=#A0><font color=\"red\">a</font></A>;");
}

TEST_F(FtsObjectTest, MembersThatNeedAnActivePageDoNothingAfterResponseEnd) {
  settings().SetValue(kSearchSection, "每页记录数", "20");
  settings().SetValue(kSearchSection, key::kPermittedPaths, "|/home/u|");
  settings().SetValue(kSearchSection, key::kAutoStart, "TRUE");
  env().session_table = std::make_shared<Dictionary>();
  env().stop_requested = [] { return true; };
  env().maintaining = [] { return false; };
  RecordingResponder responder;
  WriteIndexedFile(files_.File("a.doc"), "doc");  // a fourth document
  const std::string check = R"(
    Out.Write TypeName(FTS.Execute("[文档]:")) & "/" & TypeName(FTS.LookAt("文档", 0))
    Out.Write FTS.Setting("每页记录数") & "/" & FTS.PermitPath & "/" & FTS.AutoStart
    Out.Write TypeName(FTS.Dictionary) & "/" & FTS.TryStop & "/" & FTS.Manage
    Out.Write FTS.DownLoad(")" +
                            files_.File("a.doc") + R"(") & "/" & FTS.DeleteRecord("文档", 2)
    Out.Write FTS.MarkKeyword("alpha", "alpha")
  )";
  ScriptRun run = RunWithResponse(check + "Response.End\n" + check + "Response.Clear\n" +
                                      "Out.Write FTS.Setting(\"每页记录数\")\n",
                                  LocalPage(&responder));
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output,
            // active
            "Recordset/Recordset;20//home/u/True;Dictionary/True/False;True/True;"
            "<font color=\"red\">alpha</font>;"
            // after Response.End
            "Nothing/Nothing;//False;Nothing/False/True;False/False;alpha;"
            // after Response.Clear
            "20;");
  EXPECT_EQ(responder.files, std::vector<std::string>{files_.File("a.doc")});
  // Only the active DeleteRecord deleted.
  EXPECT_EQ(store_.project->FindTable(kDocumentTable)->live_count(), 3u);
}

TEST_F(FtsObjectTest, SettingGetAndPut) {
  settings().SetValue(kSearchSection, key::kRemoteLogin, kAllow);
  ScriptRun run = Run(R"(
    Out.Write FTS.Setting("远程登陆") & "/" & FTS.Setting("没有的键")
    FTS.Setting("每页记录数") = 25
    Out.Write FTS.Setting("每页记录数")
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output, "允许/;25;");
  // Put saves at once.
  SettingsStore reloaded;
  ASSERT_TRUE(reloaded.Load(settings().path()));
  EXPECT_EQ(reloaded.GetValue(kSearchSection, "每页记录数"), "25");

  // A request that a page of another site sent changes nothing.
  FtsPage cross_site;
  cross_site.access.cross_site = true;
  run = Run(R"(
    FTS.Setting("每页记录数") = 99
    FTS.PermitPath = "/"
    FTS.ClearLog
  )",
            cross_site);
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(settings().GetValue(kSearchSection, "每页记录数"), "25");
  EXPECT_EQ(settings().GetValue(kSearchSection, key::kPermittedPaths), "");
}

TEST(ScopePathFormsTest, LinesAndStoredForm) {
  struct Case {
    const char* lines;
    const char* stored;
  };
  const Case cases[] = {
      {"/home/u\r\n/data/my docs", "|/home/u|/data/my docs|"},
      {"  /home/u/  \n\n\r\n/srv\r", "|/home/u|/srv|"},  // blanks, empty lines, "/" at the end
      {"/", "|/|"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    std::string stored;
    ASSERT_TRUE(ScopePathsFromLines(c.lines, &stored));
    EXPECT_EQ(stored, c.stored);
  }
  EXPECT_EQ(ScopePathLines("|/home/u|/data/my docs|"), "/home/u\r\n/data/my docs");
  EXPECT_EQ(ScopePathLines("/a||/b"), "/a\r\n/b");
  std::string stored = "unchanged";
  EXPECT_FALSE(ScopePathsFromLines("/a\r\n/b|c", &stored));
  EXPECT_EQ(stored, "unchanged");
}

TEST_F(FtsObjectTest, ScopePathsRoundTripAndReloadTheScope) {
  ScanScope scope;
  env().scope = &scope;
  env().default_scan_root = "/home/default";
  // Not below the temporary directory, which the scope always forbids.
  const std::string permitted = "/home/lun-test/permitted";
  const std::string forbidden = permitted + "/private";
  ScriptRun run = Run("FTS.PermitPath = \"" + permitted + "\" & vbCrLf & \"/srv/share/\"\n" +
                      "FTS.ForbidPath = \"" + forbidden + "\"\n" +
                      "Out.Write FTS.PermitPath\nOut.Write FTS.ForbidPath\n");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output, permitted + "\r\n/srv/share;" + forbidden + ";");
  EXPECT_EQ(settings().GetValue(kSearchSection, key::kPermittedPaths),
            "|" + permitted + "|/srv/share|");
  EXPECT_EQ(scope.PermittedRoots(), (std::vector<std::string>{permitted, "/srv/share"}));
  EXPECT_TRUE(scope.IsDirectoryExcluded(forbidden + "/x"));
  EXPECT_FALSE(scope.IsDirectoryExcluded(permitted + "/public"));

  // A path with "|" cannot be stored: an error, and the list stays.
  run = Run("FTS.PermitPath = \"/a|b\"\n");
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(settings().GetValue(kSearchSection, key::kPermittedPaths),
            "|" + permitted + "|/srv/share|");
}

TEST_F(FtsObjectTest, DownLoadSendsFilesButNoPrograms) {
  for (const char* name : {"a.doc", "b.EXE", "c.sh", "d.Bat", "e.com"}) {
    WriteIndexedFile(files_.File(name), "content");
  }
  struct Case {
    const char* name;
    bool local;
    bool sent;
  };
  const Case cases[] = {
      {"a.doc", true, true},  {"b.EXE", true, false},  {"c.sh", true, false},
      {"d.Bat", true, false}, {"e.com", true, false},  {"missing.doc", true, false},
      {"", true, false},      {"a.doc", false, false},  // remote visitor, remote download off
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingResponder responder;
    FtsPage page = LocalPage(&responder);
    page.local_user = c.local;
    ScriptRun run = Run("Out.Write FTS.DownLoad(\"" + files_.File(c.name) + "\")", page);
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(run.output, c.sent ? "True;" : "False;");
    EXPECT_EQ(responder.files.size(), c.sent ? 1u : 0u);
  }
  // The folder itself is no file to send.
  RecordingResponder responder;
  EXPECT_EQ(Run("Out.Write FTS.DownLoad(\"" + files_.path() + "\")", LocalPage(&responder)).output,
            "False;");

  // A visitor from another computer: only when logged in, with remote
  // login and remote download on.
  settings().SetValue(kSearchSection, key::kRemoteDownload, kAllow);
  settings().SetValue(kSearchSection, key::kRemoteLogin, kAllow);
  settings().SetValue(kSearchSection, key::kLoginPassword, HashPassword("pw", 100));
  FtsPage remote = LocalPage(&responder);
  remote.local_user = false;
  remote.peer_address = "10.0.0.2";
  EXPECT_EQ(Run("Out.Write FTS.DownLoad(\"" + files_.File("a.doc") + "\")", remote).output,
            "False;");
  remote.login_cookie =
      env()
          .logins
          ->TryLogin("10.0.0.2", "pw", settings().GetValue(kSearchSection, key::kLoginPassword))
          .cookie;
  EXPECT_EQ(Run("Out.Write FTS.DownLoad(\"" + files_.File("a.doc") + "\")", remote).output,
            "True;");
  EXPECT_EQ(responder.files, std::vector<std::string>{files_.File("a.doc")});
  settings().SetValue(kSearchSection, key::kRemoteDownload, "禁止");
  EXPECT_EQ(Run("Out.Write FTS.DownLoad(\"" + files_.File("a.doc") + "\")", remote).output,
            "False;");
}

TEST_F(FtsObjectTest, OpenFileIsForTheLocalUserAndNeverRunsPrograms) {
  WriteIndexedFile(files_.File("a.pdf"), "%PDF");
  WriteIndexedFile(files_.File("help.chm"), "ITSF");
  WriteIndexedFile(files_.File("run.pdf"), "#!/bin/sh", 0755);
  WriteIndexedFile(files_.File("app.desktop"), "[Desktop Entry]");
  struct Case {
    std::string path;
    bool local;
    std::string opened;  // empty: refused
  };
  const Case cases[] = {
      {files_.File("a.pdf"), true, files_.File("a.pdf")},
      {files_.File("a.pdf"), false, ""},
      {"mk:@MSITStore:" + files_.File("help.chm") + "::/index.htm", true, files_.File("help.chm")},
      {files_.File("run.pdf"), true, ""},
      {files_.File("app.desktop"), true, ""},
      {files_.File("missing.pdf"), true, ""},
      {"a.pdf", true, ""},  // relative: could be read as an option
      {files_.path(), true, files_.path()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    launched_.clear();
    RecordingResponder responder;
    FtsPage page = LocalPage(&responder);
    page.local_user = c.local;
    ScriptRun run = Run("Out.Write FTS.OpenFile(\"" + c.path + "\")", page);
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(run.output, c.opened.empty() ? "False;" : "True;");
    if (!c.opened.empty()) {
      EXPECT_EQ(launched_, (std::vector<std::vector<std::string>>{{"xdg-open", c.opened}}));
    } else {
      EXPECT_TRUE(launched_.empty());
    }
  }
}

// A hit inside an archive opens as a private copy of the member in the
// runtime directory; never for a remote user, a desktop entry, a member the
// archive does not hold, or a runtime directory open to others.
TEST_F(FtsObjectTest, ArchiveMembersOpenAsPrivateCopies) {
  ScratchDir runtime;
  EnvGuard env_guard;
  env_guard.Set("XDG_RUNTIME_DIR", runtime.path().c_str());
  env().archive_reader = LUNCRAWL_PATH;
  const std::string zip = files_.File("bundle.zip");
  WriteIndexedFile(zip,
                   MakeArchive("zip", "",
                               {{"docs/报告.txt", "member words"},
                                {"run.desktop", "[Desktop Entry]"},
                                {"inner.tar", MakeArchive("tar", "", {{"n.txt", "nested"}})}}));
  auto open = [&](const std::string& key, bool local = true) {
    launched_.clear();
    RecordingResponder responder;
    FtsPage page = LocalPage(&responder);
    page.local_user = local;
    return Run("Out.Write FTS.OpenFile(\"" + key + "\")", page).output;
  };
  const std::string dir = runtime.File("tamrix-lun");
  for (const auto& [inner, content] :
       {std::pair<std::string, std::string>{"docs/报告.txt", "member words"},
        {"inner.tar::n.txt", "nested"}}) {
    SCOPED_TRACE(inner);
    ASSERT_EQ(open(zip + "::" + inner), "True;");
    ASSERT_EQ(launched_.size(), 1u);
    const std::string copy = launched_[0][1];
    EXPECT_EQ(launched_[0][0], "xdg-open");
    EXPECT_TRUE(copy.starts_with(dir + "/open-")) << copy;
    EXPECT_EQ(BaseName(copy), BaseName(inner.substr(inner.rfind(':') + 1)));
    std::string bytes;
    ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), copy, &bytes), 0);
    EXPECT_EQ(bytes, content);
    struct stat st;
    ASSERT_EQ(stat(copy.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  for (const std::string& refused :
       {zip + "::run.desktop", zip + "::missing.txt", zip + "::../../escape.txt",
        files_.File("other.zip") + "::a.txt"}) {
    EXPECT_EQ(open(refused), "False;") << refused;
  }
  EXPECT_EQ(open(zip + "::docs/报告.txt", /*local=*/false), "False;");
  EXPECT_TRUE(launched_.empty());
  chmod(dir.c_str(), 0755);  // open to others: not used
  EXPECT_EQ(open(zip + "::docs/报告.txt"), "False;");
}

// An indexed file swapped afterwards, in any of the ways that would hand out
// another file, is neither sent nor opened, and CheckFile says why.
TEST_F(FtsObjectTest, SwappedFilesAreRefused) {
  ScratchDir outside;
  WriteFile(outside.File("secret.txt"), "content");  // same size as the indexed files
  WriteFile(outside.File("sub/a.txt"), "content");
  const std::string link = files_.File("link.txt");
  const std::string in_sub = files_.File("sub/a.txt");
  const std::string changed = files_.File("changed.txt");
  WriteIndexedFile(link, "content");
  WriteIndexedFile(in_sub, "content");
  WriteIndexedFile(changed, "content");
  WriteFile(files_.File("unindexed.txt"), "content");
  WriteIndexedFile(files_.File("kept.txt"), "content");

  ASSERT_EQ(unlink(link.c_str()), 0);
  ASSERT_EQ(symlink(outside.File("secret.txt").c_str(), link.c_str()), 0);
  ASSERT_EQ(rename(files_.File("sub").c_str(), files_.File("sub.old").c_str()), 0);
  ASSERT_EQ(symlink(outside.File("sub").c_str(), files_.File("sub").c_str()), 0);
  WriteFile(changed, "other content");

  struct Case {
    std::string path;
    FileCheck check;
  };
  const Case cases[] = {
      {link, FileCheck::kSymbolicLink},
      {in_sub, FileCheck::kSymbolicLink},  // a folder on the way is the link
      {changed, FileCheck::kChanged},
      {files_.File("unindexed.txt"), FileCheck::kNotIndexed},
      {files_.File("gone.txt"), FileCheck::kMissing},
      {files_.File("sub.old/../sub/a.txt"), FileCheck::kOutsideRoots},  // ".." is never entered
      {files_.File("kept.txt"), FileCheck::kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RecordingResponder responder;
    launched_.clear();
    const bool ok = c.check == FileCheck::kOk;
    const ScriptRun run =
        Run("Out.Write FTS.DownLoad(\"" + c.path + "\")\n" + "Out.Write FTS.OpenFile(\"" + c.path +
                "\")\n" + "Out.Write FTS.CheckFile(\"" + c.path + "\")",
            LocalPage(&responder));
    ASSERT_TRUE(run.ok) << run.error;
    const std::string verdict = ok ? "True;True;" : "False;False;";
    EXPECT_EQ(run.output, verdict + std::string(FileCheckMessage(c.check)) + ";");
    EXPECT_EQ(responder.contents,
              ok ? std::vector<std::string>{"content"} : std::vector<std::string>{});
    EXPECT_EQ(launched_.size(), ok ? 1u : 0u);
  }

  // Outside every permitted root the file is refused though it is indexed.
  scope_.SetPermittedRoots({files_.File("elsewhere")});
  RecordingResponder responder;
  EXPECT_EQ(Run("Out.Write FTS.DownLoad(\"" + files_.File("kept.txt") + "\")\n" +
                    "Out.Write FTS.CheckFile(\"" + files_.File("kept.txt") + "\")",
                LocalPage(&responder))
                .output,
            "False;" + std::string(FileCheckMessage(FileCheck::kOutsideRoots)) + ";");
  // A folder (OpenFile "所在目录") is checked for links and its root too.
  scope_.SetPermittedRoots({files_.path()});
  EXPECT_EQ(Run("Out.Write FTS.OpenFile(\"" + files_.File("sub.old") + "\")\n" +
                    "Out.Write FTS.OpenFile(\"" + files_.File("sub") + "\")",
                LocalPage(&responder))
                .output,
            "True;False;");
}

TEST_F(FtsObjectTest, LogRecordsAndTables) {
  ScriptRun run = Run(R"(
    Out.Write FTS.ScanComplete & "/" & FTS.TotalCount
    FTS.WriteLog "10.0.0.7", "下载", "/docs/report.txt"
    Set rs = FTS.Execute("[日志]:")
    Out.Write rs.RecordCount & "/" & rs("IP") & "/" & rs("行为") & "/" & rs("内容")
    Out.Write Abs(DateDiff("s", rs("时间"), Now)) < 60
    FTS.ClearLog
    Out.Write FTS.Execute("[日志]:").RecordCount
    Set one = FTS.LookAt("文档", 2)
    Out.Write one.RecordCount & "/" & one.PhysicsRecordNO & "/" & one("文件名称")
    Out.Write FTS.DeleteRecord("文档", 2) & "/" & FTS.DeleteRecord("文档", 2) & "/" & FTS.DeleteRecord("文档", -1)
    Out.Write FTS.LookAt("文档", 2).Success & "/" & FTS.LookAt("文档", 2).ErrorInfo
    Out.Write FTS.LookAt("文档", 99).ErrorInfo & "/" & FTS.LookAt("没有的表", 0).ErrorInfo
    Out.Write FTS.DeleteRecord("没有的表", 0) & "/" & FTS.TotalCount
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output,
            "True/3;1/10.0.0.7/下载//docs/report.txt;True;0;1/2/page.htm;True/False/False;"
            "False/空的记录集;空的记录集/不存在的数据表;False/2;");

  DataTable* queue = EnsureQueueTable(*store_.project);
  ASSERT_NE(queue, nullptr);
  EXPECT_EQ(Run("Out.Write FTS.ScanComplete").output, "True;") << "an empty queue";
  RecordWriter writer = queue->NewRecord();
  ASSERT_TRUE(writer.valid());
  writer.SetValue(doc::kName, Variant::Bstr(u"/docs/new.txt"));
  ASSERT_TRUE(writer.Commit().ok());
  EXPECT_EQ(Run("Out.Write FTS.ScanComplete").output, "False;");
}

TEST_F(FtsObjectTest, ApplicationState) {
  ScratchDir config;
  EnvGuard guard;
  guard.Set("XDG_CONFIG_HOME", config.path().c_str());
  auto sessions = std::make_shared<Dictionary>();
  ASSERT_EQ(sessions->Add(Variant::Bstr(u"CODE-1"), Variant::Bstr(u"LUN_USER"), nullptr), S_OK);
  bool monitor = false;
  env().session_table = sessions;
  env().version = "0.7020051220";
  env().new_version = [] { return std::string("0.8"); };
  env().new_version_info = [] { return std::string("新功能"); };
  env().update_base_url = "http://update.example";
  env().executable = "/opt/lun/lun";
  env().monitor_running = [&monitor] { return monitor; };
  env().set_monitor = [&monitor](bool on) {
    monitor = on;
    return true;
  };
  settings().SetValue(kSearchSection, key::kLocalUserId, "CODE-1");
  ScriptRun run = Run(R"(
    Out.Write FTS.Ver & "/" & FTS.NewVer & "/" & FTS.NewVerInfo & "/" & FTS.NewVerDownURL
    Out.Write FTS.ID & "/" & FTS.Dictionary.Exists(FTS.ID) & "/" & FTS.Dictionary("CODE-1")
    Out.Write Len(FTS.NewGuid) & "/" & (FTS.NewGuid <> FTS.NewGuid)
    Out.Write FTS.FileMon
    FTS.FileMon = True
    Out.Write FTS.FileMon & "/" & FTS.Setting("实时监控")
    FTS.FileMon = False
    Out.Write FTS.FileMon & "/" & FTS.Setting("实时监控")
    FTS.AutoStart = True
    Out.Write FTS.AutoStart & "/" & FTS.Setting("AutoStart")
    FTS.Setting("升级服务器") = "http://mirror.example/lun/update.htm"
    Out.Write FTS.NewVerDownURL
    FTS.AutoStart = False
    Out.Write FTS.AutoStart & "/" & FTS.Setting("AutoStart")
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output,
            "0.7020051220/0.8/新功能/http://update.example/update/LUN/;CODE-1/True/LUN_USER;"
            "36/True;False;True/TRUE;False/FALSE;True/TRUE;http://mirror.example/lun/;"
            "False/FALSE;");
  EXPECT_FALSE(AutostartEnabled());
}

TEST(LocalMountPointsTest, OnlyLocalDiskFileSystems) {
  const char* table =
      "proc /proc proc rw 0 0\n"
      "/dev/sda2 / ext4 rw,relatime 0 0\n"
      "tmpfs /run tmpfs rw 0 0\n"
      "/dev/sdb1 /media/u/My\\040Disk vfat rw 0 0\n"
      "server:/export /mnt/nfs nfs4 rw 0 0\n"
      "overlay /var/lib/docker/overlay2/x/merged overlay rw 0 0\n"
      "/dev/sda3 /home btrfs rw 0 0\n"
      "/dev/sda3 /home btrfs rw 0 0\n"
      "garbage\n";
  EXPECT_EQ(LocalMountPoints(table), (std::vector<std::string>{"/", "/media/u/My Disk", "/home"}));
}

TEST_F(FtsObjectTest, SubFoldersListsDirectoriesOrDisks) {
  MakeDirectories(files_.File("b dir"));
  MakeDirectories(files_.File("a"));
  WriteFile(files_.File("file.txt"), "x");
  ScriptRun run =
      Run("Out.Write FTS.SubFolders(\"" + files_.path() + "\")\n" + "Out.Write FTS.SubFolders(\"" +
          files_.File("missing") + "\")\n" + "Out.Write FTS.SubFolders(\"\") = \"" +
          [] {
            std::string joined;
            for (const std::string& p : LocalMountPoints()) {
              joined += (joined.empty() ? "" : "\" & vbCrLf & \"") + p;
            }
            return joined;
          }() +
          "\"\n");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output, "a\r\nb dir;;True;");
}

// A desktop of its own: MIME globs, one application for text files and an
// icon theme with a text icon and the application's icon.
class DesktopFilesTest : public FtsObjectTest {
 protected:
  void SetUp() override {
    FtsObjectTest::SetUp();
    const std::string data = data_.path();
    WriteFile(data + "/mime/globs2",
              "# comment\n50:text/plain:*.txt\n50:text/x-readme:README*:cs\n"
              "60:text/x-c++src:*.cpp\n");
    WriteFile(data + "/mime/generic-icons", "text/x-c++src:text-x-script\n");
    WriteFile(
        data + "/applications/editor.desktop",
        "[Desktop Entry]\nType=Application\nName=Editor\nName[zh_CN]=编辑器\n"
        "Exec=editor --new \"%f\" --title=%c\nIcon=editor\nMimeType=text/plain;text/x-c++src;\n");
    WriteFile(data + "/applications/viewer.desktop",
              "[Desktop Entry]\nType=Application\nName=View|er\nExec=viewer %U\n"
              "Icon=no-such-icon\nMimeType=text/plain;\n");
    WriteFile(data + "/applications/hidden.desktop",
              "[Desktop Entry]\nType=Application\nName=Hidden\nExec=hidden %f\n"
              "NoDisplay=true\nMimeType=text/plain;\n");
    // In a sub-folder: found through mimeinfo.cache only.
    WriteFile(data + "/applications/kde/reader.desktop",
              "[Desktop Entry]\nType=Application\nName=Reader\nExec=reader %f\n"
              "MimeType=text/plain;\n");
    WriteFile(data + "/applications/kde/uncached.desktop",
              "[Desktop Entry]\nType=Application\nName=Uncached\nExec=uncached %f\n"
              "MimeType=text/plain;\n");
    WriteFile(data + "/applications/mimeinfo.cache",
              "[MIME Cache]\ntext/plain=editor.desktop;kde-reader.desktop;kde-gone.desktop;\n");
    WriteFile(data + "/icons/hicolor/48x48/apps/editor.png", "editor-48");
    WriteFile(data + "/icons/hicolor/32x32/apps/editor.png", "editor-32");
    WriteFile(data + "/icons/hicolor/32x32/mimetypes/text-plain.png", "text-plain");
    WriteFile(data + "/icons/Adwaita/16x16/mimetypes/text-x-script.png", "script");
    env().data_dirs = {data};
  }
  ScratchDir data_;
};

TEST_F(DesktopFilesTest, MimeTypesAndIconNames) {
  const std::vector<std::string> dirs = {data_.path()};
  EXPECT_EQ(MimeTypeOf("/x/NOTES.TXT", dirs), "text/plain");
  EXPECT_EQ(MimeTypeOf("/x/README.md", dirs), "text/x-readme");
  EXPECT_EQ(MimeTypeOf("/x/readme.md", dirs), kUnknownMimeType) << "a case-sensitive glob";
  EXPECT_EQ(MimeTypeOf("/x/a.cpp", dirs), "text/x-c++src");
  EXPECT_EQ(MimeTypeOf(data_.path(), dirs), kDirectoryMimeType);
  EXPECT_EQ(MimeIconNames("text/x-c++src", dirs),
            (std::vector<std::string>{"text-x-c++src", "text-x-script", "text-x-generic"}));
}

TEST_F(DesktopFilesTest, FileIconsComeFromTheThemeOrTheFallback) {
  struct Case {
    const char* file;
    std::string png;
  };
  const Case cases[] = {
      {"/x/a.txt", "text-plain"},
      {"/x/b.cpp", "script"},  // through the generic icon
      {"/x/c.unknown", std::string(FallbackIconPng())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    RecordingResponder responder;
    ScriptRun run =
        Run(std::string("Out.Write FTS.FileIcon(\"") + c.file + "\")", LocalPage(&responder));
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(run.output, "True;");
    EXPECT_EQ(responder.memory_extension, ".png");
    EXPECT_EQ(responder.memory, c.png);
  }
  EXPECT_EQ(FallbackIconPng().substr(0, 8), std::string_view("\x89PNG\r\n\x1a\n", 8));
}

TEST_F(DesktopFilesTest, OpenWithListIconsAndCommands) {
  WriteFile(files_.File("notes.txt"), "text");
  const std::string file = files_.File("notes.txt");
  RecordingResponder responder;
  ScriptRun run = Run("p = \"" + file + "\"\n" + R"(
    Out.Write FTS.FileMenuList(p)
    Out.Write FTS.FileMenuIcon(p, 1) & "/" & FTS.FileMenuIcon(p, 4)
    Out.Write FTS.FileCommand(p, 1) & "/" & FTS.FileCommand(p, 3) & "/" & FTS.FileCommand(p, 0)
    Out.Write FTS.FileMenuList("")
  )",
                      LocalPage(&responder));
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output,
            "|1||1|编辑器|\r\n|0||2|Reader|\r\n|0||3|View er|\r\n;True/False;True/True/False;;");
  EXPECT_EQ(responder.memory, "editor-32");
  EXPECT_EQ(launched_, (std::vector<std::vector<std::string>>{
                           {"editor", "--new", file, "--title=编辑器"}, {"viewer", file}}));

  launched_.clear();
  FtsPage remote = LocalPage(&responder);
  remote.local_user = false;
  EXPECT_EQ(Run("Out.Write FTS.FileCommand(\"" + file + "\", 1)", remote).output, "False;");
  EXPECT_TRUE(launched_.empty());
}

TEST(ExecArgumentsTest, FieldCodesAndQuoting) {
  struct Case {
    const char* exec;
    std::vector<std::string> argv;
  };
  const Case cases[] = {
      {"gedit %U", {"gedit", "/a b/c.txt"}},
      {"app --x=%f", {"app", "--x=/a b/c.txt"}},
      {"app", {"app", "/a b/c.txt"}},  // no file code: the file goes last
      {"\"/opt/my app/run\" -n %F", {"/opt/my app/run", "-n", "/a b/c.txt"}},
      {"app \"say \\\"hi\\\"\" %i %k 100%% %f", {"app", "say \"hi\"", "100%", "/a b/c.txt"}},
      {"app %c %f", {"app", "Name", "/a b/c.txt"}},
      {"app \"unclosed %f", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exec);
    EXPECT_EQ(ExecArguments(c.exec, "Name", "/a b/c.txt"), c.argv);
  }
}

TEST(LaunchDetachedTest, StartsProgramsFoundInThePath) {
  EXPECT_TRUE(LaunchDetached({"true"}));
  EXPECT_FALSE(LaunchDetached({"no-such-program-lun-test"}));
  EXPECT_FALSE(LaunchDetached({}));
}

}  // namespace
}  // namespace lun

namespace lun {
namespace {

TEST_F(FtsFixture, SavedSearchesAreTheLocalUsersAlone) {
  SavedSearches saved(store_.scratch.home().File("SavedSearches"), *store_.search, *store_.project,
                      *store_.writer);
  env().saved_searches = &saved;
  FtsPage local;
  local.local_user = true;
  FtsPage remote;
  FtsPage cross_site = local;
  cross_site.access.cross_site = true;
  const char* kSave =
      R"(Out.Write "[" & FTS.SaveSearch("a", "[文档]:文本内容=alpha", "SearchText=alpha") & "]")";
  for (const FtsPage& refused : {remote, cross_site}) {
    ScriptRun run = Run(kSave, refused);
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(run.output, "[只有本机用户可以保存搜索];");
  }
  ASSERT_EQ(Run(kSave, local).output, "[];");
  ASSERT_EQ(Run(R"(Out.Write FTS.SaveSearch("b", "[日志]:内容=x", ""))", local).output,
            "只能保存对“文档”的搜索;");
  AddDocuments({{"new\tone.txt", "txt", u"alpha"}});
  ASSERT_EQ(saved.CheckNow(), 1u);

  const char* kShow = R"(
    Dim f : f = Split(FTS.SavedSearchList, vbTab)
    Out.Write f(0) & "|" & f(1) & "|" & f(2) & "|" & f(3) & "|" & FTS.SavedSearchNews & "|"
    f = Split(FTS.SavedSearchHits(1), vbTab)
    Out.Write f(2) & "|" & f(3))";
  ScriptRun run = Run(kShow, local);
  ASSERT_TRUE(run.ok) << run.error;
  // A tab in a file name cannot split the fields.
  EXPECT_EQ(run.output, "1|a|SearchText=alpha|1|1|;/docs/new one.txt|new one.txt\r\n;");
  run = Run(
      R"(Out.Write FTS.SavedSearchList & FTS.SavedSearchNews & FTS.MarkSearchSeen(1) & FTS.DeleteSavedSearch(1))",
      remote);
  EXPECT_EQ(run.output, "0FalseFalse;");
  EXPECT_EQ(Run(R"(Out.Write FTS.MarkSearchSeen(1) & FTS.DeleteSavedSearch(1))", cross_site).output,
            "FalseFalse;");
  EXPECT_EQ(
      Run(R"(Out.Write FTS.MarkSearchSeen(1) & FTS.SavedSearchNews & FTS.DeleteSavedSearch(1) & FTS.DeleteSavedSearch(1))",
          local)
          .output,
      "True0TrueFalse;");
}

TEST_F(FtsFixture, ReplacedVersionsCanBeReadAndCompared) {
  DocumentRecord r;
  r.name = "v.txt";
  r.type = "txt";
  r.path = "/docs/v.txt";
  r.modified = 40000;
  r.text = u"one\ntwo";
  ASSERT_TRUE(store_.writer->AddOrUpdateDocument(r, true));
  r.modified = 40001;
  r.text = u"one\n<2>";
  ASSERT_TRUE(store_.writer->AddOrUpdateDocument(r, true));
  ScriptRun run = Run(R"(
    Out.Write FTS.LookAt("文档", 0).Success & "|"
    Dim a, b : Set a = FTS.LookAtVersion(0) : Set b = FTS.LookAtVersion(1)
    Out.Write a("文本内容") & "|" & FTS.LookAtVersion(7).Success & "|"
    Out.Write FTS.DiffText(a("文本内容"), b("文本内容")))");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output.substr(0, run.output.find("<p")), "False|;one\ntwo|False|;");
  EXPECT_NE(
      run.output.find(
          "<td class=\"del\">two</td><td class=\"ln\">2</td><td class=\"add\">&lt;2&gt;</td>"),
      std::string::npos);
}

}  // namespace
}  // namespace lun
