// Test helper of the crawler tests: a scratch project with the document
// table, the search service over its real indexes, and a document writer.
// Test code only.
#ifndef LUN_CRAWLER_CRAWLER_TEST_UTIL_H_
#define LUN_CRAWLER_CRAWLER_TEST_UTIL_H_

#include <memory>

#include "crawler/document_table.h"
#include "engine/index/field_generations.h"
#include "engine/query/index_term_source.h"
#include "engine/query/search_service.h"
#include "engine/storage/storage_test_util.h"

namespace lun {

struct DocumentStore {
  DocumentStore()
      : project(scratch.Make(MakeFieldIndexFactory())),
        ok(project->CreateProject(scratch.project_path()).ok() &&
           EnsureDocumentTable(*project) != nullptr),
        search(std::make_unique<SearchService>(*project, MakeIndexTermSource)),
        writer(std::make_unique<DocumentWriter>(*project, *search)) {}

  ScratchProject scratch;
  std::unique_ptr<SearchProject> project;
  bool ok;  // the project and its document table were created
  std::unique_ptr<SearchService> search;
  std::unique_ptr<DocumentWriter> writer;
};

}  // namespace lun

#endif  // LUN_CRAWLER_CRAWLER_TEST_UTIL_H_
