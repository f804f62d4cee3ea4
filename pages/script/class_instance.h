// Script code as an object: instances of script classes and the
// procedure references of GetRef.
//
// An instance of a script Class: its fields, and the members a caller
// reaches through the dispatch interface. The methods themselves run in
// the interpreter that created the instance (CodeRunner); once that
// interpreter closed, the instance keeps its fields but its members fail
// with E_UNEXPECTED. Internal to pages/script.
//
// Class_Terminate runs when the last reference goes away, on a successor
// instance that takes the fields over (the dying object can no longer be
// handed out as Me). An error inside it is dropped, as the platform does.
#ifndef LUN_PAGES_SCRIPT_CLASS_INSTANCE_H_
#define LUN_PAGES_SCRIPT_CLASS_INSTANCE_H_

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "automation/dispatch.h"
#include "pages/script/ast.h"

namespace lun::script {

class ClassInstance;

// The interpreter's side of script code reached through an object: runs
// member `member` of `instance`, or a procedure GetRef handed out.
class CodeRunner {
 public:
  virtual ~CodeRunner() = default;
  virtual HResult InvokeProcedure(const Procedure& proc, std::span<const Variant> args,
                                  Variant* result, ExcepInfo* excep) = 0;
  virtual HResult InvokeMember(ClassInstance& instance, int member, std::uint16_t flags,
                               std::span<const Variant> args, Variant* result,
                               ExcepInfo* excep) = 0;
  // Runs Class_Terminate on `successor`; never throws.
  virtual void Terminate(const std::shared_ptr<ClassInstance>& successor) = 0;
};

// Shared by an interpreter and its instances; `runner` is cleared when the
// interpreter closes.
struct CodeRunnerLink {
  CodeRunner* runner = nullptr;
};

class ClassInstance : public Dispatch {
 public:
  ClassInstance(std::shared_ptr<const ClassDef> def, std::shared_ptr<CodeRunnerLink> link);
  ~ClassInstance() override;

  const ClassDef& def() const { return *def_; }
  std::vector<Variant>& fields() { return fields_; }

  // Public members by name; DISPID_VALUE is the default member. A member's
  // id is its index in def().members plus one.
  HResult GetIdOfName(std::u16string_view name, DispId* id) override;
  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args, Variant* result,
                 ExcepInfo* excep) override;
  std::u16string TypeName() const override { return def_->name; }
  void TakeChildren(std::vector<Variant>* out) override;

  // For the cycle collector: the objects the fields hold (directly or in
  // an array), and dropping them all.
  void ForEachObject(const std::function<void(const Dispatch*)>& visit) const;
  void ReleaseObjects();

 private:
  std::shared_ptr<const ClassDef> def_;
  std::shared_ptr<CodeRunnerLink> link_;
  std::vector<Variant> fields_;
  bool terminated_ = false;
};

// What GetRef("name") returns: an object whose default member calls the
// procedure with its arguments.
class ProcedureRef : public Dispatch {
 public:
  ProcedureRef(const Procedure* proc, std::shared_ptr<CodeRunnerLink> link)
      : proc_(proc), link_(std::move(link)) {}
  HResult GetIdOfName(std::u16string_view name, DispId* id) override;
  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args, Variant* result,
                 ExcepInfo* excep) override;

 private:
  const Procedure* proc_;  // valid while link_->runner is set
  std::shared_ptr<CodeRunnerLink> link_;
};

}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_CLASS_INSTANCE_H_
