#include "pages/script_page_runner.h"

#include <chrono>

#include "pages/page_host.h"
#include "pages/page_translator.h"

namespace lun {

ScriptLimits DefaultPageLimits() {
  ScriptLimits limits;
  limits.time_budget = std::chrono::seconds(150);
  return limits;
}

ScriptPageRunner::ScriptPageRunner(FtsFactory make_fts, const ScriptLimits& limits)
    : make_fts_(std::move(make_fts)), limits_(limits) {}

PageRunStatus ScriptPageRunner::Run(const PageRequest& request, PageResponder& responder,
                                    PageOutput* output) {
  std::string page;
  if (!LoadPageFile(request.page_path, &page)) return PageRunStatus::kCannotTranslate;

  PageHost host(limits_);
  FtsMaker make_fts;
  if (make_fts_) {
    make_fts = [&](const PageObjects& objects) {
      return make_fts_(PageContext{request, responder, objects});
    };
  }
  if (!host.Create(make_fts)) return PageRunStatus::kCannotCreateHost;
  host.SetPageDirectory(request.page_directory);
  host.SetWebRoot(request.web_root);
  host.request()->Fill(request);
  host.response()->headers() = output->headers;

  const bool ran = host.Run(page);
  output->body = ran ? host.GetOutput() : host.GetErrorText();
  output->headers = host.response()->headers();
  // The error text quotes the failing line and the error's description,
  // which may carry request data: as plain text it can show its line breaks
  // and cannot become markup in the browser.
  if (!ran) output->headers["Content-Type"] = "text/plain; charset=utf-8";
  output->cookies = host.response()->cookies()->SetCookieTexts();
  output->redirect.clear();
  host.GetRedirect(&output->redirect);
  host.ReleaseEngine();
  return PageRunStatus::kRan;
}

}  // namespace lun
