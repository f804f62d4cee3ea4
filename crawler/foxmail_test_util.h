// Test helper of the Foxmail tests: builders of the files the mail source
// reads (layouts in foxmail_format.h). Test code only.
#ifndef LUN_CRAWLER_FOXMAIL_TEST_UTIL_H_
#define LUN_CRAWLER_FOXMAIL_TEST_UTIL_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "crawler/foxmail_format.h"
#include "platform/coding.h"

namespace lun {

// One 176-byte message record of a mailbox index.
inline std::string FoxmailIndexRecord(uint32_t position, uint32_t size, double date,
                                      const std::string& key, const std::string& name) {
  std::string r(foxmail::kIndexRecordBytes, '\0');
  std::string word;
  PutFixed32(&word, position);
  r.replace(foxmail::kPositionOffset, 4, word);
  word.clear();
  PutFixed32(&word, size);
  r.replace(foxmail::kSizeOffset, 4, word);
  const double days = date + foxmail::kDaysFromYearOneTo1899;
  std::memcpy(r.data() + foxmail::kDateOffset, &days, sizeof(days));
  const std::string texts = key + std::string(1, '\0') + name + std::string(1, '\0');
  r.replace(foxmail::kTextsOffset, std::min(texts.size(), r.size() - foxmail::kTextsOffset),
            texts.substr(0, r.size() - foxmail::kTextsOffset));
  return r;
}

// An accounts.cfg naming, for each account, its mail directory and folder.
inline std::string FoxmailAccounts(
    const std::vector<std::pair<std::string, std::string>>& accounts) {
  std::string cfg(foxmail::kAccountsSkip, '\0');
  PutFixed32(&cfg, static_cast<uint32_t>(accounts.size()));
  for (const auto& [directory, folder] : accounts) {
    PutFixed32(&cfg, 0);
    PutFixed32(&cfg, 3);
    cfg += "abc";
    PutFixed32(&cfg, static_cast<uint32_t>(directory.size()));
    cfg += directory;
    PutFixed32(&cfg, static_cast<uint32_t>(folder.size()));
    cfg += folder;
    cfg += std::string(foxmail::kAccountTailBytes, '\0');
  }
  return cfg;
}

}  // namespace lun

#endif  // LUN_CRAWLER_FOXMAIL_TEST_UTIL_H_
