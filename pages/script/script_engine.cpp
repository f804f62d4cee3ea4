#include "pages/script/script_engine.h"

#include "pages/script/interpreter.h"
#include "pages/script/lexer.h"
#include "platform/text.h"

namespace lun {

// The engine's state is the interpreter's; this file is only the face.
class ScriptEngine::Impl : public script::Interpreter {};

// ---------------------------------------------------------------- public face

ScriptEngine::ScriptEngine() : impl_(std::make_unique<Impl>()) {}
ScriptEngine::~ScriptEngine() = default;

void ScriptEngine::SetLimits(const ScriptLimits& limits) { impl_->limits = limits; }
void ScriptEngine::SetErrorCallback(ErrorCallback callback) {
  impl_->callback = std::move(callback);
}

bool ScriptEngine::AddNamedItem(std::u16string_view name, std::shared_ptr<Dispatch> object,
                                bool global_members) {
  if (name.empty() || !object || impl_->program) return false;
  std::u16string folded = script::FoldName(name);
  for (const auto& item : impl_->items) {
    if (item.folded == folded) return false;
  }
  impl_->items.push_back({std::move(folded), std::move(object), global_members});
  return true;
}

void ScriptEngine::RegisterObject(std::u16string_view prog_id, ObjectFactory factory) {
  impl_->RegisterObject(prog_id, std::move(factory));
}

bool ScriptEngine::Parse(std::u16string_view script) { return impl_->Parse(script); }
bool ScriptEngine::Run() { return impl_->Run(); }

const ScriptErrorInfo* ScriptEngine::last_error() const {
  return impl_->has_error ? &impl_->last_error : nullptr;
}

void ScriptEngine::Close() { impl_->Close(); }

std::string FormatScriptError(const ScriptErrorInfo& error) {
  std::string text = "Script error detected at line " + std::to_string(error.line) + ".";
  if (!error.source_line.empty()) text += "\nSource line: " + ToNarrow(error.source_line);
  if (!error.description.empty()) text += "\nDescription: " + ToNarrow(error.description);
  return text;
}

}  // namespace lun
