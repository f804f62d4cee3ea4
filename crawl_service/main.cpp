// luncrawl: the crawl service. Started by lun from the program directory.
// Also the reader of archive members (archive_members.h): the crawler runs
// "luncrawl --archive-members ..." for each archive, its members on
// standard output; "luncrawl --archive-member ARCHIVE KEY" copies one
// member out for opening it.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crawl_service/crawl_server.h"
#include "crawler/extract/archive_members.h"
#include "crawler/extract/crawl_wire_format.h"

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], lun::kArchiveMembersArgument) == 0) {
    return lun::RunArchiveMemberReader(argc - 2, argv + 2, STDOUT_FILENO);
  }
  if (argc >= 2 && std::strcmp(argv[1], lun::kArchiveMemberArgument) == 0) {
    return lun::RunArchiveMemberCopy(argc - 2, argv + 2, STDOUT_FILENO);
  }
  lun::CrawlServerOptions options;
  // The token lun handed us; out of the environment at once, so that the
  // extraction workers (and whatever a plug-in starts) never see it.
  if (const char* token = std::getenv(lun::kCrawlTokenVariable)) options.token = token;
  unsetenv(lun::kCrawlTokenVariable);
  options.port = lun::kCrawlServicePort;
  options.worker.text_limit = lun::kServiceTextLimit;
  std::string error;
  if (!lun::ParseServerArguments(argc, argv, &options, &error)) {
    std::fprintf(stderr, "luncrawl: %s\n", error.c_str());
    return 64;
  }
  const int rc = lun::RunCrawlServer(options);
  if (rc == lun::kServerPortTaken) {
    std::fprintf(stderr, "luncrawl: port %u is taken; another service runs\n", options.port);
  }
  return rc;
}
