// The crawler's view of the crawl service: a text source for
// CrawlerEnvironment::extract_text over a CrawlServiceClient, shared by lun
// and `lundb crawl`.
#ifndef LUN_APP_CRAWL_SERVICE_TEXT_H_
#define LUN_APP_CRAWL_SERVICE_TEXT_H_

#include <functional>
#include <string>

#include "app/crawl_service_client.h"
#include "crawler/crawler.h"

namespace lun {

// What the crawler makes of each outcome: a service that cannot be reached
// (or was told to exit) is not the file's fault, so the file is retried
// later instead of getting a record without text. A listener that is not
// our service gets no path at all: the file is indexed by name only.
inline ServiceText ServiceTextOf(ExtractOutcome outcome) {
  switch (outcome) {
    case ExtractOutcome::kText:
      return ServiceText::kText;
    case ExtractOutcome::kNoText:
    case ExtractOutcome::kServiceUntrusted:
      return ServiceText::kNoText;
    case ExtractOutcome::kServiceFailed:
      return ServiceText::kServiceFailed;
    case ExtractOutcome::kServiceUnavailable:
    case ExtractOutcome::kClosed:
      return ServiceText::kUnavailable;
  }
  return ServiceText::kNoText;
}

// `client` must outlive the returned function; `observe` (may be null) sees
// every outcome (lundb counts them).
inline std::function<ServiceText(const std::string&, std::u16string*)> CrawlServiceTextSource(
    CrawlServiceClient& client, std::function<void(ExtractOutcome)> observe = {}) {
  return [&client, observe](const std::string& path, std::u16string* text) {
    const ExtractOutcome outcome = client.Extract(path, text);
    if (observe) observe(outcome);
    return ServiceTextOf(outcome);
  };
}

}  // namespace lun

#endif  // LUN_APP_CRAWL_SERVICE_TEXT_H_
