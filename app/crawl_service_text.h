// The crawler's view of the crawl service: a text source for
// CrawlerEnvironment::extract_text over a CrawlServiceClient, shared by lun
// and `lundb crawl`.
#ifndef LUN_APP_CRAWL_SERVICE_TEXT_H_
#define LUN_APP_CRAWL_SERVICE_TEXT_H_

#include <functional>
#include <string>

#include "app/crawl_service_client.h"
#include "crawler/extract/crawl_outcome.h"

namespace lun {

// `client` must outlive the returned function; `observe` (may be null) sees
// every outcome (lundb counts them).
inline std::function<CrawlOutcome(const std::string&, std::u16string*)> CrawlServiceTextSource(
    CrawlServiceClient& client, std::function<void(CrawlOutcome)> observe = {}) {
  return [&client, observe](const std::string& path, std::u16string* text) {
    const CrawlOutcome outcome = client.Extract(path, text);
    if (observe) observe(outcome);
    return outcome;
  };
}

}  // namespace lun

#endif  // LUN_APP_CRAWL_SERVICE_TEXT_H_
