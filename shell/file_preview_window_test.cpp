#include "shell/file_preview_window.h"

#include <gtest/gtest.h>

#include "engine/storage/storage_test_util.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

TEST(FilePreviewWindowTest, StartsWithTheDropHint) {
  FilePreviewWindow window;
  EXPECT_EQ(window.windowTitle(), "文件预览");
  EXPECT_EQ(window.view()->toPlainText(), "把文件拖放进来即可快速预览文本。");
  EXPECT_TRUE(window.view()->isReadOnly());
}

TEST(FilePreviewWindowTest, OnlyTheFirstDroppedFileIsPreviewed) {
  ScratchDir dir;
  WriteTestFile(dir.File("first.txt"), "第一个文件的内容");
  WriteTestFile(dir.File("second.txt"), "second");
  FilePreviewWindow window;
  window.DropUrls({QUrl("http://example.invalid/x"),
                   QUrl::fromLocalFile(QString::fromStdString(dir.File("first.txt"))),
                   QUrl::fromLocalFile(QString::fromStdString(dir.File("second.txt")))});
  EXPECT_EQ(window.windowTitle().toStdString(), "文件预览: " + dir.File("first.txt"));
  EXPECT_EQ(window.view()->toPlainText(), "第一个文件的内容");
}

TEST(FilePreviewWindowTest, AFileWithoutTextShowsItsPathAndTheNote) {
  ScratchDir dir;
  WriteTestFile(dir.File("empty.txt"), "");
  FilePreviewWindow window;
  for (const std::string& path : {dir.File("empty.txt"), dir.File("missing.pdf")}) {
    window.PreviewPath(QString::fromStdString(path));
    EXPECT_EQ(window.view()->toPlainText().toStdString(), path + "\n<未能提取出文本>");
  }
}

}  // namespace
}  // namespace lun
