#include "pages/script/class_instance.h"

#include "pages/script/lexer.h"

namespace lun::script {

ClassInstance::ClassInstance(std::shared_ptr<const ClassDef> def,
                             std::shared_ptr<CodeRunnerLink> link)
    : def_(std::move(def)), link_(std::move(link)), fields_(def_->fields.local_names.size()) {}

ClassInstance::~ClassInstance() {
  if (terminated_ || !def_->terminate || !link_->runner) return;
  auto successor = std::make_shared<ClassInstance>(def_, link_);
  successor->terminated_ = true;
  successor->fields_ = std::move(fields_);
  link_->runner->Terminate(successor);
}

HResult ClassInstance::GetIdOfName(std::u16string_view name, DispId* id) {
  int m = def_->FindMember(FoldName(name));
  if (m < 0 || !def_->members[m].is_public) return DISP_E_UNKNOWNNAME;
  *id = m + 1;
  return S_OK;
}

HResult ClassInstance::Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args,
                              Variant* result, ExcepInfo* excep) {
  int m = id == DISPID_VALUE ? def_->default_member : static_cast<int>(id) - 1;
  if (m < 0 || m >= static_cast<int>(def_->members.size()) || !def_->members[m].is_public) {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (!link_->runner) return E_UNEXPECTED;
  return link_->runner->InvokeMember(*this, m, flags, args, result, excep);
}

void ClassInstance::TakeChildren(std::vector<Variant>* out) {
  if (def_->terminate && !terminated_) return;  // Class_Terminate still needs them
  for (auto& f : fields_) out->push_back(std::move(f));
  fields_.clear();
}

void ClassInstance::ForEachObject(const std::function<void(const Dispatch*)>& visit) const {
  for (const auto& f : fields_) {
    if (f.is_object() && f.AsObject()) {
      visit(f.AsObject().get());
    } else if (f.is_array() && f.AsArray()) {
      const SafeArray& array = *f.AsArray();
      for (std::size_t i = 0; i < array.size(); ++i) {
        Variant e = array.Get(i);
        if (e.is_object() && e.AsObject()) visit(e.AsObject().get());
      }
    }
  }
}

void ClassInstance::ReleaseObjects() {
  std::vector<Variant> dropped = std::move(fields_);
  fields_.assign(dropped.size(), Variant());
}

HResult ProcedureRef::GetIdOfName(std::u16string_view, DispId*) { return DISP_E_UNKNOWNNAME; }

HResult ProcedureRef::Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args,
                             Variant* result, ExcepInfo* excep) {
  if (id != DISPID_VALUE || (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (!link_->runner) return E_UNEXPECTED;
  return link_->runner->InvokeProcedure(*proc_, args, result, excep);
}

}  // namespace lun::script
