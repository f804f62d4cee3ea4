#include "tools/lundb/lundb_project.h"

#include "config/settings_store.h"
#include "engine/index/field_generations.h"

namespace lun {

FieldIndexFactory LundbIndexFactory() { return MakeFieldIndexFactory(); }

std::unique_ptr<SearchProject> MakeLundbProject(SettingsStore* settings,
                                                const std::string& project_path,
                                                uint32_t segment_record_limit,
                                                FieldIndexFactory factory) {
  settings->SetValue(kSearchSection, key::kDataSource, project_path);
  SearchProjectOptions options;
  options.settings = settings;
  options.index_factory = std::move(factory);
  options.segment_record_limit = segment_record_limit;
  return std::make_unique<SearchProject>(std::move(options));
}

}  // namespace lun
