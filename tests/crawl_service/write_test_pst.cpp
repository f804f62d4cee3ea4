// Test fixture maker: writes a small Outlook data file (pst_test_writer.h)
// of the mailbox the end-to-end test searches.
//
//   write_test_pst OUT full|without-lunch|truncated
//
// "full": in 收件箱 the messages "季度预算审批" and "Lunch" (with a text
// attachment), in its sub-folder Archive "长城 trip"; "without-lunch": the
// same store after "Lunch" was deleted (the others keep their identifiers);
// "truncated": the full store cut in half.
#include <cstdio>
#include <cstring>
#include <string>

#include "crawler/extract/pst_test_writer.h"
#include "platform/file_system.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: write_test_pst OUT full|without-lunch|truncated\n");
    return 2;
  }
  const std::string mode = argv[2];
  const lun::TestPstMessage budget{"季度预算审批", "张三", "李四; Bob Lee", "预算审批已经通过", "",
                                   1700000000,     {},     0x10001};
  const lun::TestPstMessage lunch{"Lunch",
                                  "Alice",
                                  "Bob",
                                  "",
                                  "<p>dumplings at <b>noon</b></p>",
                                  1700003600,
                                  {{"menu.txt", "zebra crossing menu"}},
                                  0x10002};
  const lun::TestPstMessage trip{"长城 trip", "王五",     "赵六", "photos of the wall",
                                 "",          1700007200, {},     0x10003};
  lun::TestPstFolder inbox{"收件箱", {budget}, {{"Archive", {trip}, {}}}};
  if (mode != "without-lunch") inbox.messages.push_back(lunch);
  std::string bytes = lun::MakeTestPst({inbox});
  if (mode == "truncated") bytes.resize(bytes.size() / 2);
  if (bytes.empty() || (mode != "full" && mode != "without-lunch" && mode != "truncated")) {
    std::fprintf(stderr, "write_test_pst: cannot write %s\n", mode.c_str());
    return 1;
  }
  return lun::ReplaceFileAtomically(lun::DefaultFileSystem(), argv[1], bytes) == 0 ? 0 : 1;
}
