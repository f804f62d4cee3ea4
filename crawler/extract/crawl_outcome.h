// What one text request to the crawl service came to: the client
// (app/crawl_service_client.h) reports it, the crawler (crawler/crawler.h)
// decides what the file's record gets from it, and lundb crawl counts it.
#ifndef LUN_CRAWLER_EXTRACT_CRAWL_OUTCOME_H_
#define LUN_CRAWLER_EXTRACT_CRAWL_OUTCOME_H_

namespace lun {

enum class CrawlOutcome {
  kText,                // text received
  kNoText,              // the service answered that the file has none
  kServiceFailed,       // the exchange failed (crash, hang, malformed reply); service restarted
  kServiceUnavailable,  // no service could be reached: the file is not to blame
  kServiceUntrusted,    // the listener on the port is not our service: no path was sent
  kClosed,              // the client was told to exit
};

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_CRAWL_OUTCOME_H_
