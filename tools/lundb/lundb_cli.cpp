#include "tools/lundb/lundb_cli.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/paths.h"
#include "tools/lundb/lundb_project.h"

namespace lun {

int Fail(const std::string& message) {
  std::fprintf(stderr, "lundb: %s\n", message.empty() ? "操作失败" : message.c_str());
  return 1;
}

bool ParseUnsigned(const std::string& text, uint64_t* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  try {
    *value = std::stoull(text);
  } catch (...) {
    return false;
  }
  return true;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const auto abs = std::filesystem::absolute(path, ec);
  return ec ? path : abs.lexically_normal().string();
}

int OpenSession(const std::string& db, const std::string& settings_file, Session* s,
                uint32_t segment_limit) {
  if (!settings_file.empty()) (void)s->settings.Load(settings_file);
  s->project = MakeLundbProject(&s->settings, AbsolutePath(db), segment_limit);
  if (EngineStatus st = s->project->OpenProject(); !st) return Fail(st.message());
  return 0;
}

namespace {

bool IsGlobalOption(const std::string& word) { return word == "--home" || word == "--settings"; }

}  // namespace

std::string CommandOf(const std::vector<std::string>& args) {
  size_t i = 0;
  while (i + 1 < args.size() && IsGlobalOption(args[i])) i += 2;
  return i < args.size() ? args[i] : std::string();
}

int TakeGlobalOptions(std::vector<std::string>* args, std::string* home,
                      std::string* settings_file) {
  while (args->size() >= 2 && IsGlobalOption((*args)[0])) {
    ((*args)[0] == "--home" ? *home : *settings_file) = (*args)[1];
    args->erase(args->begin(), args->begin() + 2);
  }
  if (args->size() < 2) return Usage();
  // The engine error log lands beside the project unless a home is given.
  if (!SetApplicationHome(home->empty() ? DirName(AbsolutePath((*args)[1])) : *home)) {
    return Fail("cannot create the application home");
  }
  return 0;
}

int RunCrawlProgram(const std::vector<std::string>& args) {
  const std::string program = JoinPath(ProgramDirectory(), kCrawlProgram);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  return Fail("cannot run " + program + ": " + std::strerror(errno));
}

}  // namespace lun
