// A lun without its command line, for the test of RunDesktopShell: runs the
// desktop shell on a given application home and port without the crawler
// and without touching the user's autostart entry.
//
//   desktop_shell_probe HOME PORT            the desktop shell
//   desktop_shell_probe HOME PORT --prepare  one headless start-up and
//                                            shutdown, so that the shell's
//                                            run finds its tables (and
//                                            shows no first-run wizard)
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/application.h"
#include "app/user_interface.h"
#include "shell/desktop_shell.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: desktop_shell_probe HOME PORT [--prepare]\n");
    return 2;
  }
  lun::ApplicationOptions options;
  options.home = argv[1];
  options.port = static_cast<uint16_t>(std::atoi(argv[2]));
  options.fallback_port = *options.port;
  options.start_crawler = false;
  options.manage_autostart = false;
  if (argc > 3 && std::strcmp(argv[3], "--prepare") == 0) {
    lun::HeadlessInterface ui;
    lun::Application app(options, ui);
    if (!app.Startup()) return 1;
    app.Shutdown();
    return 0;
  }
  return lun::RunDesktopShell(options, argc, argv);
}
