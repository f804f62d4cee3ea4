// Serves a fixed set of files for load tests: "/B/small.bin" (4 KiB) and
// "/B/big.bin" (100 MiB) under a web root prepared by WebServer::Start.
//
//   web_bench_server DIR [PORT [IDLE_TIMEOUT_MS]]
//
// DIR receives the archive, the web root and "UMServer.log". Prints
// "port N" once serving, then runs until SIGINT or SIGTERM, shuts down and
// prints the peak resident memory and the number of client threads started.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/paths.h"
#include "web/web_server.h"

namespace {

std::string StatusField(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return line;
  }
  return {};
}

bool WriteFile(const std::string& path, size_t size) {
  std::ofstream out(path, std::ios::binary);
  std::string block(1 << 20, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31);
  for (size_t left = size; left > 0;) {
    const size_t n = left < block.size() ? left : block.size();
    out.write(block.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: web_bench_server DIR [PORT [IDLE_TIMEOUT_MS]]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int port = argc > 2 ? std::atoi(argv[2]) : 0;
  const int idle_timeout_ms = argc > 3 ? std::atoi(argv[3]) : 30000;
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // every thread inherits the mask

  lun::MakeDirectories(lun::JoinPath(dir, "res"));
  lun::WebServer server(nullptr, dir);
  if (!server.Start(lun::JoinPath(dir, "res"), "index.shl", static_cast<uint16_t>(port),
                    idle_timeout_ms)) {
    std::fprintf(stderr, "cannot start the server\n");
    return 1;
  }
  const std::string folder = server.web_root() + "B";
  if (!lun::MakeDirectories(folder) || !WriteFile(folder + "/small.bin", 4096) ||
      !WriteFile(folder + "/big.bin", size_t{100} << 20)) {
    std::fprintf(stderr, "cannot write the files\n");
    return 1;
  }
  std::printf("port %u\n", server.port());
  std::fflush(stdout);
  int signal = 0;
  sigwait(&signals, &signal);
  server.Shutdown();
  std::printf("%s\n%s\nclient threads started: %llu\n", StatusField("VmHWM").c_str(),
              StatusField("Threads").c_str(),
              static_cast<unsigned long long>(server.clients_started()));
  return 0;
}
