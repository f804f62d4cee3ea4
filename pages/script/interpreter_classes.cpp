// The interpreter's side of script classes: New, member access on
// instances, Class_Initialize and Class_Terminate.
#include "pages/script/interpreter.h"
#include "pages/script/script_errors.h"

namespace lun::script {

Variant Interpreter::NewInstance(const Expr& e) {
  const ClassDef* def = LateClass(e);
  if (!def) {
    // The language's one built-in class.
    if (e.folded == u"regexp") return Variant::Object(CreateRegExp());
    Throw(kErrClassNotDefined, e.name);
  }
  // The instance shares ownership of its class so that it outlives a Close.
  auto instance = std::make_shared<ClassInstance>(def->shared_from_this(), class_link_);
  for (const auto& init : def->fields.arrays) instance->fields()[init.slot] = NewDimArray(init);
  cycles_.Track(
      instance,
      [](Dispatch& c, const CycleCollector::Visitor& visit) {
        static_cast<ClassInstance&>(c).ForEachObject(visit);
      },
      [](Dispatch& c) { static_cast<ClassInstance&>(c).ReleaseObjects(); });
  if (def->initialize) (void)CallProcedureValues(*def->initialize, {}, instance.get());
  return Variant::Object(std::move(instance));
}

ClassInstance* Interpreter::AsInstance(const std::shared_ptr<Dispatch>& obj) {
  return dynamic_cast<ClassInstance*>(obj.get());
}

int Interpreter::InstanceMember(ClassInstance& instance, const Expr& member) {
  int m = instance.def().FindMember(member.folded);
  if (m < 0 || (!instance.def().members[m].is_public && frame_->me != &instance)) {
    Throw(kErrNoMember, member.name);
  }
  return m;
}

Variant Interpreter::CallInstanceMember(ClassInstance& instance, int m,
                                        const std::vector<ExprPtr>& args) {
  const ClassMember& member = instance.def().members[m];
  if (member.get) return CallProcedure(*member.get, args, &instance);
  if (member.field >= 0) {
    if (args.empty()) return instance.fields()[member.field];
    std::vector<Variant> values = EvalArgs(args);
    Variant field = instance.fields()[member.field];
    return Apply(field, std::move(values), member.name);
  }
  // A property with only Let/Set cannot be read.
  Throw(kErrNoMember, member.name);
}

Variant Interpreter::AccessInstanceMember(ClassInstance& instance, int m, std::uint16_t flags,
                                          std::span<const Variant> args) {
  const ClassMember& member = instance.def().members[m];
  const bool put_ref = flags & DISPATCH_PROPERTYPUTREF;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    // Set on a member with only Let (and Let with only Set) uses the
    // other, as the platform does for a value of the right kind.
    const Procedure* setter =
        put_ref ? (member.set ? member.set : member.let) : (member.let ? member.let : member.set);
    if (setter) {
      (void)CallProcedureValues(*setter, args, &instance);
      return Variant();
    }
    if (member.field < 0 || args.empty()) Throw(kErrNoMember, member.name);
    Variant& field = instance.fields()[member.field];
    if (args.size() == 1) {
      field = args[0];
      return Variant();
    }
    if (!field.is_array()) Throw(kErrTypeMismatch, member.name);
    std::vector<std::int64_t> idx;
    for (std::size_t i = 0; i + 1 < args.size(); ++i) idx.push_back(ToIndex(args[i]));
    SafeArray* array = field.MutableArray();
    if (array->Put(FlatOrThrow(array, idx, member.name), args.back()) != S_OK) {
      Throw(kErrSubscript, member.name);
    }
    return Variant();
  }
  if (member.get) return CallProcedureValues(*member.get, args, &instance);
  if (member.field < 0) Throw(kErrNoMember, member.name);
  if (args.empty()) return instance.fields()[member.field];
  Variant field = instance.fields()[member.field];
  return Apply(field, std::vector<Variant>(args.begin(), args.end()), member.name);
}

HResult Interpreter::InvokeMember(ClassInstance& instance, int member, std::uint16_t flags,
                                  std::span<const Variant> args, Variant* result,
                                  ExcepInfo* excep) {
  // A host (or a Dispatch-level caller) reaches the member here: script
  // errors go back as DISP_E_EXCEPTION, never as a C++ exception through
  // the host's frames.
  if (!frame_) return E_UNEXPECTED;  // the script is not running
  try {
    Variant r = AccessInstanceMember(instance, member, flags, args);
    if (result) *result = std::move(r);
    return S_OK;
  } catch (const ScriptThrow& t) {
    return ToException(t, excep);
  }
}

void Interpreter::Terminate(const std::shared_ptr<ClassInstance>& successor) {
  // Only while the script runs: after Run an object the host drops later
  // has no page left to run in.
  if (!frame_ || aborted_) return;
  try {
    (void)CallProcedureValues(*successor->def().terminate, {}, successor.get());
  } catch (...) {
    // An error in Class_Terminate is dropped; a run-time limit stays in
    // force through aborted_.
  }
}

}  // namespace lun::script
