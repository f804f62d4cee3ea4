// Every page of the web UI translates (includes expanded, literal text
// turned into Response.Write) and parses as a script, so that a syntax
// error in a page or in one of its includes fails the build's tests rather
// than a user's search.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pages/page_translator.h"
#include "pages/script/script_engine.h"
#include "platform/text.h"

namespace lun {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> PageFiles() {
  std::vector<fs::path> pages;
  for (const auto& entry : fs::directory_iterator(LUN_PAGES_DIR)) {
    if (entry.path().extension() == ".shl") pages.push_back(entry.path());
  }
  return pages;
}

TEST(WebUiPages, EveryPageTranslatesAndParses) {
  const std::vector<fs::path> pages = PageFiles();
  ASSERT_GE(pages.size(), 12u) << "pages missing from " << LUN_PAGES_DIR;
  for (const fs::path& page : pages) {
    SCOPED_TRACE(page.filename().string());
    std::string text;
    ASSERT_TRUE(LoadPageFile(page.string(), &text));
    std::string expanded;
    ASSERT_TRUE(ExpandIncludes(text, std::string(LUN_PAGES_DIR) + "/", &expanded));
    // An include that names a missing file expands to nothing: every page
    // must really have its shared helpers.
    if (page.filename() != "index.shl") {
      EXPECT_NE(expanded.find("Function Admit(level)"), std::string::npos);
    }
    std::string script;
    ASSERT_TRUE(ScriptFromPage(expanded, &script));
    ScriptEngine engine;
    std::string error;
    engine.SetErrorCallback([&](const ScriptErrorInfo& info) { error = FormatScriptError(info); });
    EXPECT_TRUE(engine.Parse(ToWide(script))) << error;
  }
}

}  // namespace
}  // namespace lun
