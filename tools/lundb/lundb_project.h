// How lundb builds its SearchProject: the one place that decides which index
// implementation the tool's tables get.
#ifndef LUN_TOOLS_LUNDB_LUNDB_PROJECT_H_
#define LUN_TOOLS_LUNDB_LUNDB_PROJECT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/field_index.h"
#include "engine/storage/search_project.h"

namespace lun {

class SettingsStore;

// The index factory of lundb: the engine's word and exact-value indexes.
FieldIndexFactory LundbIndexFactory();

// A project over `settings` (which must outlive it) whose data source is
// `project_path`, with the factory above.
std::unique_ptr<SearchProject> MakeLundbProject(SettingsStore* settings,
                                                const std::string& project_path,
                                                uint32_t segment_record_limit = 1'000'000,
                                                FieldIndexFactory factory = LundbIndexFactory());

}  // namespace lun

#endif  // LUN_TOOLS_LUNDB_LUNDB_PROJECT_H_
