#include "pages/recordset_object.h"

#include <gtest/gtest.h>

#include "pages/fts_test_fixture.h"

namespace lun {
namespace {

// The fifteen alpha/beta documents, in the categories "文档", "网页" and
// "图像" by number modulo 3.
class RecordsetObjectTest : public FtsFixture {
 protected:
  void SetUp() override {
    FtsFixture::SetUp();
    const std::vector<Doc> docs = AlphaBetaDocuments();
    for (const Doc& doc : docs) names_.push_back(doc.name);
    AddDocuments(docs);
  }
  std::vector<std::string> names_;
};

TEST_F(RecordsetObjectTest, PagesThroughTheRows) {
  ScriptRun run = Run(R"(
    Set rs = FTS.Execute("[文档]:")
    Out.Write rs.RecordCount
    Out.Write rs.PageSize
    rs.PageSize = 7
    Out.Write rs.MaxPageNO
    rs.PageSize = 0
    rs.PageSize = -3
    Out.Write rs.PageSize
    rs.MovePage 0
    Out.Write rs.CurPageNO & "/" & rs.CurPageSize & "/" & rs.Cursor
    rs.MovePage 999
    Out.Write rs.CurPageNO & "/" & rs.CurPageSize & "/" & rs.Cursor
    rs.MovePage "2"
    Out.Write rs.CurPageNO & "/" & rs.CurPageSize & "/" & rs.Cursor
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output, "15;10;3;7;1/7/0;3/1/14;2/7/7;");
}

TEST_F(RecordsetObjectTest, MovingPastTheEndLeavesNoCurrentRow) {
  ScriptRun run = Run(R"(
    Set rs = FTS.Execute("[文档]:文本内容=alpha")
    Out.Write rs.Bof & "/" & rs.Eof & "/" & rs.Cursor
    rs.MoveLast
    Out.Write rs.Cursor
    rs.MoveNext
    Out.Write rs.Eof & "/" & rs.Cursor & "/" & rs.PhysicsRecordNO
    rs.MoveNext
    Out.Write rs.Eof & "/" & rs.Cursor
    rs.MoveFirst
    rs.MovePrev
    Out.Write rs.Cursor
    rs.Move 4
    Out.Write rs.Cursor & "/" & rs.Bof
    n = 0
    rs.MoveFirst
    Do Until rs.Eof
      n = n + 1
      rs.MoveNext
    Loop
    Out.Write n
  )");
  ASSERT_TRUE(run.ok) << run.error;
  // A MoveNext at the end stays at the end: the engine alone would start
  // over at row 0, and a page loop would never end.
  EXPECT_EQ(run.output, "True/False/0;9;True/-1/-1;True/-1;0;4/False;10;");
}

TEST_F(RecordsetObjectTest, FieldsByNameByNumberAndAsTheDefaultMember) {
  ScriptRun run = Run(R"(
    Set rs = FTS.Execute("[文档]:完整路径=/docs/doc3.txt")
    Out.Write rs.RecordCount & "/" & rs.FieldCount
    Out.Write rs.Field("2").Name
    Out.Write rs.Field("md5").Name
    Out.Write rs.Field("0") Is Nothing
    Out.Write rs.Field("14") Is Nothing
    Out.Write rs.Field("x1") Is Nothing
    Out.Write rs("文件名称")
    Out.Write rs.Field("文件名称").Value = rs("文件名称")
    Out.Write rs(1)
    Out.Write TypeName(rs("文件大小").Value) & "/" & TypeName(rs("修改时间").Value)
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output, "1/13;文件类型;MD5;True;True;True;doc3.txt;True;doc3.txt;Long/Date;");
}

TEST_F(RecordsetObjectTest, UnknownFieldIsAScriptError) {
  ScriptRun run = Run(R"(
    Set rs = FTS.Execute("[文档]:")
    Out.Write rs("nope")
  )");
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.output, "");
}

TEST_F(RecordsetObjectTest, RelevanceKeywordsAndSnippets) {
  std::u16string long_text = std::u16string(300, u'文') + u"gamma" + std::u16string(300, u'字');
  AddDocuments({{"long.txt", "txt", long_text}});
  ScriptRun run = Run(R"(
    Set rs = FTS.Execute("[文档]:文本内容=alpha*文本内容=beta")
    Out.Write rs.RecordCount & "/" & rs.RecordPower
    Out.Write rs("文本内容").Mark
    Out.Write rs("文件名称").Mark
    Set ranked = FTS.Execute("[文档]:文本内容=alpha order by 相关度 desc")
    Out.Write ranked.RecordPower > 0
    Set rs = FTS.Execute("[文档]:文本内容=gamma")
    Out.Write rs("文本内容").HTMLValue
    Out.Write rs("文件名称").HTMLValue
  )");
  ASSERT_TRUE(run.ok) << run.error;
  const std::string snippet = ToNarrow(std::u16string(100, u'文')) +
                              "<font color=\"red\">gamma</font>" +
                              ToNarrow(std::u16string(95, u'字'));
  EXPECT_EQ(run.output, "5/-1;*alpha*beta;;True;" + snippet + ";long.txt;");
}

TEST_F(RecordsetObjectTest, FailedSearchesGiveAnEmptyObject) {
  struct Case {
    const char* query;
    const char* message;
  };
  for (const Case& c : {Case{"[没有的表]:x", "不存在的数据表"},
                        Case{"[文档]:文本内容=(alpha", "查询表达式语法错误"}}) {
    SCOPED_TRACE(c.query);
    ScriptRun run = Run(std::string("Set rs = FTS.Execute(\"") + c.query + R"(")
      Out.Write rs.Success & "/" & rs.ErrorInfo & "/" & rs.Eof & "/" & rs.Bof
      Out.Write rs.RecordCount & "/" & rs.Cursor & "/" & rs.ElapsedSecond & "/" & rs.FieldCount
      rs.MoveNext
      rs.MovePage 2
      Out.Write rs.Statistic
      Out.Write rs.Field("1") Is Nothing
      Set inner = rs.Execute("[文档]:文本内容=alpha")
      Out.Write inner.Success & "/" & inner.ErrorInfo & "/" & inner.Eof
    )");
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(run.output,
              std::string("False/") + c.message + "/True/True;0/0/0/0;False;True;False//True;");
  }
}

TEST_F(RecordsetObjectTest, ExecuteSearchesWithinTheRows) {
  ScriptRun run = Run(R"(
    Set rs = FTS.Execute("[文档]:文本内容=alpha")
    Set inner = rs.Execute("[文档]:文本内容=beta")
    Out.Write inner.Success & "/" & inner.RecordCount & "/" & rs.RecordCount
    Out.Write inner("文本内容").Mark
    Out.Write inner.Execute("[文档]:文本内容=[nothing]").RecordCount
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output, "True/5/10;*beta*alpha;0;");
}

TEST_F(RecordsetObjectTest, StatisticCountsTheRowsOfEachCategory) {
  ScriptRun run = Run(R"(
    Function Counts(rs)
      Counts = rs.GetCount("文档") & "," & rs.GetCount("网页") & "," & rs.GetCount("图像") & _
               "," & rs.GetCount("邮件") & "," & rs.GetCount("没有的分类")
    End Function
    Set rs = FTS.Execute("[文档]:文本内容=alpha")
    Out.Write Counts(rs)
    Out.Write rs.Statistic
    Out.Write Counts(rs)
    Set sorted = FTS.Execute("[文档]:文本内容=alpha order by 文件名称 desc")
    sorted.MovePage 2
    Out.Write sorted.Statistic
    Out.Write Counts(sorted)
    Set none = FTS.Execute("[文档]:文本内容=[nothing]")
    Out.Write none.Statistic
    Out.Write Counts(none)
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output, "0,0,0,0,0;True;4,3,3,0,0;True;4,3,3,0,0;True;0,0,0,0,0;");
}

TEST_F(RecordsetObjectTest, StatisticCountsNoCategoryForOtherTables) {
  // Rows of the log are in no category list; they must not be taken for
  // documents of the largest category.
  ScriptRun run = Run(R"(
    FTS.WriteLog "127.0.0.1", "检索", "alpha"
    FTS.WriteLog "127.0.0.1", "检索", "beta"
    Set rs = FTS.Execute("[日志]:")
    Out.Write rs.RecordCount
    Out.Write rs.Statistic
    Out.Write rs.GetCount("文档") & "," & rs.GetCount("网页") & "," & rs.GetCount("图像")
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output, "2;True;0,0,0;");
}

TEST_F(RecordsetObjectTest, FieldObjectsStaySafeAfterClose) {
  const int64_t before = LiveRecordsetObjects();
  ScriptRun run = Run(R"(
    Set rs = FTS.Execute("[文档]:文本内容=alpha")
    Set f = rs("文件名称")
    Out.Write f
    rs.Close
    Out.Write rs.Success & "/" & rs.Eof & "/" & rs.RecordCount
    Out.Write IsEmpty(f.Value) & "/" & f.HTMLValue & "/" & f.Mark & "/" & f.Name
    Out.Write rs.Field("文件名称") Is Nothing
    rs.Close
    Set rs = Nothing
    Out.Write IsEmpty(f.Value)
  )");
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(run.output, names_[0] + ";False/True/0;True///文件名称;True;True;");
  EXPECT_EQ(LiveRecordsetObjects(), before);
}

TEST_F(RecordsetObjectTest, ArgumentsThatCannotBeConvertedAreTypeMismatches) {
  ScriptRun run = Run(R"(
    Set rs = FTS.Execute("[文档]:")
    Out.Write "before"
    rs.Move "two"
    Out.Write "after"
  )");
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.output, "before;");
  EXPECT_NE(run.error.find("mismatch"), std::string::npos) << run.error;
}

}  // namespace
}  // namespace lun
