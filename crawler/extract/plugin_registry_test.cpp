#include "crawler/extract/plugin_registry.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "crawler/extract/text_filters.h"
#include "platform/file_system.h"
#include "platform/scratch_dir.h"
#include "platform/text.h"

namespace lun {
namespace {

TEST(PluginRegistryTest, LoadsPluginsAndTheLaterOneWinsAType) {
  PluginRegistry registry;
  std::string error;
  ASSERT_TRUE(registry.LoadPlugin(TEST_PLUGIN_PAX, &error)) << error;
  ASSERT_TRUE(registry.LoadPlugin(TEST_PLUGIN_LATER, &error)) << error;
  EXPECT_EQ(registry.PluginCount(), 2);
  EXPECT_EQ(registry.PluginForType("PAX"), 0);
  EXPECT_EQ(registry.PluginForType("pad"), 1);  // both list it; the later one handles it
  EXPECT_EQ(registry.PluginForType("PAQ"), 1);  // listed in lower case
  EXPECT_EQ(registry.PluginForType("DOC"), -1);
  EXPECT_EQ(registry.TypeList(), "|PAD|PAQ|PAX|");

  PluginInfoBlock block;
  ASSERT_TRUE(registry.GetPluginInfo(0, &block));
  EXPECT_EQ(std::u16string(block.display), u"Test plug-in");
  EXPECT_EQ(std::u16string(block.types), u"PAX|PAD");
  EXPECT_FALSE(registry.GetPluginInfo(2, &block));
  EXPECT_FALSE(registry.GetPluginInfo(-1, &block));
}

TEST(PluginRegistryTest, LibrariesThatAreNotPluginsAreRefused) {
  struct Case {
    const char* path;
    const char* error;
  };
  const Case cases[] = {
      {TEST_PLUGIN_INFO_ONLY, kNotPluginError},  // GetInfo without GetText
      {TEST_PLUGIN_NO_TYPES, kNotPluginError},   // an empty type list
      {"/nonexistent/plugin.so", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    PluginRegistry registry;
    std::string error;
    EXPECT_FALSE(registry.LoadPlugin(c.path, &error));
    if (c.error) EXPECT_EQ(error, c.error);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(registry.PluginCount(), 0);
  }
}

TEST(PluginRegistryTest, LoadsADirectoryAndExtractsThroughThePlugin) {
  ScratchDir dir;
  const std::string plug = dir.File("Plug");
  std::filesystem::create_directory(plug);
  std::filesystem::copy_file(TEST_PLUGIN_PAX, plug + "/a.so");
  std::filesystem::copy_file(TEST_PLUGIN_INFO_ONLY, plug + "/b.so");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), plug + "/readme.txt", "not a library"), 0);
  PluginRegistry registry;
  EXPECT_EQ(registry.LoadPlugins(plug), 1);
  EXPECT_EQ(registry.LoadPlugins(dir.File("missing")), 0);

  const std::string doc = dir.File("doc.pax");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), doc, "contents"), 0);
  const ExtractResult result = ExtractFileText(doc, 1000, &registry);
  EXPECT_EQ(result.status, ExtractStatus::kOk);
  EXPECT_EQ(result.text, u"plugin:contents");
  // The capacity given to GetText is the limit.
  EXPECT_EQ(ExtractFileText(doc, 4, &registry).text, u"plug");
  // No text from the plug-in: its format is not guessed at as plain text.
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), doc, "none of it"), 0);
  const ExtractResult none = ExtractFileText(doc, 1000, &registry);
  EXPECT_EQ(none.status, ExtractStatus::kDamaged);
  EXPECT_TRUE(none.text.empty());
}

}  // namespace
}  // namespace lun
