#include "app/home_index.h"

#include <filesystem>

#include "app/application.h"
#include "app/instance_socket.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "engine/index/field_generations.h"
#include "engine/query/index_term_source.h"
#include "engine/query/search_service.h"
#include "engine/storage/search_project.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"

namespace lun {

std::string WithHomeIndex(const std::string& home,
                          const std::function<void(SearchProject&, SearchService&)>& use) {
  SettingsStore settings;
  (void)settings.Load(JoinPath(home, kSettingsFileName));
  const std::string data_file = ApplicationDataFile(settings, home);
  std::error_code ignored;
  if (!std::filesystem::exists(data_file, ignored)) return "还没有索引: " + data_file;
  InstanceLock lock;
  if (!lock.Acquire(home)) return "正在运行的 lun 没有回答请求: " + InstanceSocketPath(home);
  // Engine failures are logged in this home, as the running lun would.
  (void)SetApplicationHome(home);
  // Only in memory: the settings file is never written here.
  settings.SetValue(kSearchSection, key::kDataSource, data_file);
  SearchProjectOptions options;
  options.settings = &settings;
  options.index_factory = MakeFieldIndexFactory();
  SearchProject project(std::move(options));
  if (EngineStatus status = project.OpenProject(); !status) return "索引无法打开: " + data_file;
  SearchService search(project, MakeIndexTermSource);
  search.Configure(ChannelSettings::From(settings));
  use(project, search);
  return {};
}

}  // namespace lun
