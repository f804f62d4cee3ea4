// lundb-crawl: the crawl command of lundb in a program of its own (see
// lundb_cli.h). lundb hands its whole command line on unchanged:
//
//   lundb-crawl [--home DIR] [--settings FILE] crawl DB ROOT [--port N]
#include <cstdio>
#include <string>
#include <vector>

#include "tools/lundb/lundb_cli.h"

namespace lun {

int Usage(const char* why) {
  if (why) std::fprintf(stderr, "lundb: %s\n", why);
  std::fprintf(stderr, "usage: lundb [--home DIR] [--settings FILE] crawl DB ROOT [--port N]\n");
  return kUsage;
}

}  // namespace lun

int main(int argc, char** argv) {
  using namespace lun;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string home, settings_file;
  if (CommandOf(args) != "crawl") return Usage("lundb-crawl runs the crawl command only");
  if (const int failed = TakeGlobalOptions(&args, &home, &settings_file)) return failed;
  args.erase(args.begin());
  return CmdCrawl(args, settings_file);
}
