#include "pages/page_host.h"

#include "pages/page_translator.h"
#include "platform/text.h"

namespace lun {

PageHost::PageHost(const ScriptLimits& limits) : limits_(limits) {}

PageHost::~PageHost() { ReleaseEngine(); }

bool PageHost::Create(const FtsMaker& make_fts) {
  if (engine_) return false;
  engine_ = std::make_unique<ScriptEngine>();
  engine_->SetLimits(limits_);
  engine_->SetErrorCallback(
      [this](const ScriptErrorInfo& error) { error_text_ = FormatScriptError(error); });
  request_ = std::make_shared<RequestObject>();
  response_ = std::make_shared<ResponseObject>(request_->cookies());
  server_ = std::make_shared<ServerObject>();
  server_->SetPageDirectory(page_directory_);
  if (make_fts) fts_ = make_fts(PageObjects{server_, response_});
  struct Item {
    std::u16string_view name;
    std::shared_ptr<Dispatch> object;
    bool global_members;
  };
  const Item items[] = {
      {u"Response", response_, false},
      {u"Request", request_, true},
      {u"Server", server_, false},
      {u"FTS", fts_, false},
  };
  for (const Item& item : items) {
    if (!item.object) continue;  // no application object for this page
    if (!engine_->AddNamedItem(item.name, item.object, item.global_members)) {
      error_text_ = "Failed to add the named item " + ToNarrow(item.name) + ".";
      return false;
    }
  }
  return true;
}

void PageHost::SetPageDirectory(std::string directory) {
  page_directory_ = std::move(directory);
  if (server_) server_->SetPageDirectory(page_directory_);
}

void PageHost::SetWebRoot(std::string web_root) {
  if (server_) server_->SetWebRoot(std::move(web_root));
}

bool PageHost::Run(std::string_view page_text) {
  if (!engine_ || ran_) return false;
  ran_ = true;
  error_text_.clear();
  std::string expanded;
  std::string script;
  // An empty body for a page that cannot be translated would look like a
  // page that has nothing to say; the text names the fault instead.
  if (!ExpandIncludes(page_text, page_directory_, &expanded)) {
    error_text_ =
        "Page translation failed: an included file cannot be read, includes nest too deep, "
        "or the page grows too large.";
    return false;
  }
  if (!ScriptFromPage(expanded, &script)) {
    error_text_ = "Page translation failed: a \"<%\" has no closing \"%>\".";
    return false;
  }
  response_->ClearOutput();
  const bool ok = engine_->Parse(ToWide(script)) && engine_->Run();
  // Script variables go now: objects the page created (recordsets) are
  // released before the response is built.
  engine_->Close();
  return ok;
}

const std::string& PageHost::GetOutput() const {
  static const std::string kNone;
  return response_ ? response_->output() : kNone;
}

bool PageHost::GetRedirect(std::string* url) const {
  if (!response_ || response_->redirect().empty()) return false;
  *url = response_->redirect();
  return true;
}

void PageHost::ReleaseEngine() {
  if (engine_) engine_->Close();  // drops the interpreter's references first
  request_.reset();
  response_.reset();
  server_.reset();
  fts_.reset();
  engine_.reset();
}

}  // namespace lun
