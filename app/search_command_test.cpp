// The answer of a running lun to `lun search` travels as text over
// lun.socket: it must come back as it was sent, whatever the paths and
// snippets hold, and damaged text must be refused rather than misread.
#include "app/search_command.h"

#include <gtest/gtest.h>

namespace lun {
namespace {

TEST(SearchAnswerText, RoundTripsPathsAndSnippetsWithControlCharacters) {
  SearchAnswer answer;
  answer.code = 0;
  answer.message = "成功";
  answer.count = 7;
  answer.hits.push_back({"/home/u/a\tb\\c\nd.txt", "2024-05-06 09:30", 4294967296ull,
                         std::string("x ") + kMarkStart + "port" + kMarkEnd + " \\t y"});
  answer.hits.push_back({"/home/u/空.txt", "", 0, ""});
  SearchAnswer back;
  ASSERT_TRUE(DecodeAnswer(EncodeAnswer(answer), &back));
  EXPECT_EQ(back.code, 0);
  EXPECT_EQ(back.message, "成功");
  EXPECT_EQ(back.count, 7u);
  ASSERT_EQ(back.hits.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(back.hits[i].path, answer.hits[i].path);
    EXPECT_EQ(back.hits[i].modified, answer.hits[i].modified);
    EXPECT_EQ(back.hits[i].size, answer.hits[i].size);
    EXPECT_EQ(back.hits[i].snippet, answer.hits[i].snippet);
  }
}

TEST(SearchAnswerText, DamagedAnswersAreRefused) {
  SearchAnswer answer;
  answer.count = 1;
  answer.hits.push_back({"/a", "2024-01-01 00:00", 3, "s"});
  const std::string good = EncodeAnswer(answer);
  SearchAnswer back;
  for (const std::string& bad :
       {std::string(), good.substr(0, good.size() - 1), std::string("x\t1\tm\n"),
        std::string("0\t1\tm\n/a\tt\n"), std::string("0\t1\tm\n/a\tt\t3k\ts\n")}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(DecodeAnswer(bad, &back));
  }
}

TEST(SearchRequest, TheRequestLineEscapesTheQueryAndWordsMustAllOccur) {
  EXPECT_EQ(SearchRequestLine("a\tb", 5), "search\t5\ta\\tb");
  EXPECT_EQ(TerminalSearchQuery({"port"}),
            "[文档]:文本内容=(port)+文件名称=(port) order by 相关度 desc");
  EXPECT_EQ(TerminalSearchQuery({"a+b", "c"}),
            "[文档]:文本内容=((a+b)*(c))+文件名称=((a+b)*(c)) order by 相关度 desc");
}

}  // namespace
}  // namespace lun
