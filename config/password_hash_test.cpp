#include "config/password_hash.h"

#include <gtest/gtest.h>

#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

TEST(PasswordHashTest, HashesAreSaltedAndVerify) {
  // Few rounds keep the test quick; the stored form records the count.
  const std::string a = HashPassword("pw-123", 1000);
  const std::string b = HashPassword("pw-123", 1000);
  EXPECT_TRUE(IsPasswordHash(a));
  EXPECT_NE(a, b) << "each hash has its own salt";
  EXPECT_EQ(a.find("pw-123"), std::string::npos);
  EXPECT_TRUE(VerifyPassword("pw-123", a));
  EXPECT_TRUE(VerifyPassword("pw-123", b));
  EXPECT_FALSE(VerifyPassword("pw-124", a));
  EXPECT_FALSE(VerifyPassword("", a));
  EXPECT_EQ(HashPassword(""), "");
  EXPECT_FALSE(VerifyPassword("", "")) << "no password set: nothing logs in";
  // A value written back unchanged stays; a new one is hashed.
  EXPECT_EQ(StoredPasswordForm(a), a);
  EXPECT_TRUE(VerifyPassword("new", StoredPasswordForm("new")));
  EXPECT_NE(StoredPasswordForm("new").find(std::to_string(kPasswordHashIterations)),
            std::string::npos);
}

TEST(PasswordHashTest, DamagedStoredFormsAreTextNotHashes) {
  const std::string good = HashPassword("x", 10);
  const std::string hash_part = good.substr(good.rfind('$'));
  for (const std::string& damaged :
       {std::string("pbkdf2-sha256$0$00$") + hash_part.substr(1),
        std::string("pbkdf2-sha256$99999999999$00$") + hash_part.substr(1),
        std::string("pbkdf2-sha256$10$zz$") + hash_part.substr(1),
        std::string("pbkdf2-sha256$10$00$abcd"), std::string("md5$1$00$") + hash_part.substr(1)}) {
    SCOPED_TRACE(damaged);
    EXPECT_FALSE(IsPasswordHash(damaged));
    EXPECT_FALSE(VerifyPassword("x", damaged));
  }
}

TEST(PasswordHashTest, APasswordStoredAsTextIsConvertedOnce) {
  ScratchDir dir;
  const std::string path = dir.File("Setting");
  {
    SettingsStore settings;
    ASSERT_TRUE(settings.Load(path));
    settings.SetValue(kSearchSection, key::kLoginPassword, "old-text");
    settings.SetValue(kSearchSection, key::kPasswordQuestion, "你叫什么名字？");
    settings.SetValue(kSearchSection, key::kPasswordAnswer, "Tam");
    ASSERT_TRUE(settings.Save());
    EXPECT_TRUE(VerifyPassword("old-text", "old-text")) << "text of an earlier version";
    ASSERT_TRUE(UpgradeStoredPassword(settings));
  }
  SettingsStore again;
  ASSERT_TRUE(again.Load(path));
  const std::string stored = again.GetValue(kSearchSection, key::kLoginPassword);
  EXPECT_TRUE(IsPasswordHash(stored));
  EXPECT_TRUE(VerifyPassword("old-text", stored));
  // The reminder question and its answer are left as they were.
  EXPECT_EQ(again.GetValue(kSearchSection, key::kPasswordAnswer), "Tam");
  ASSERT_TRUE(UpgradeStoredPassword(again));
  EXPECT_EQ(again.GetValue(kSearchSection, key::kLoginPassword), stored) << "hashed only once";
}

}  // namespace
}  // namespace lun
