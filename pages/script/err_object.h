// The Err object: the last run-time error a script resumed from (Number,
// Description, Source, HelpFile, HelpContext) with Raise and Clear.
// Internal to pages/script: the interpreter records each error it resumes
// from here and clears it on "On Error".
#ifndef LUN_PAGES_SCRIPT_ERR_OBJECT_H_
#define LUN_PAGES_SCRIPT_ERR_OBJECT_H_

#include <span>
#include <string>

#include "automation/dispatch.h"

namespace lun::script {

class ErrorObject : public Dispatch {
 public:
  enum : DispId { kNumber = 0, kDescription, kSource, kHelpFile, kHelpContext, kClear, kRaise };

  void Set(int number, std::u16string description, std::u16string source);
  void Clear();
  int number() const { return number_; }

  HResult GetIdOfName(std::u16string_view name, DispId* id) override;
  // Raise gives DISP_E_EXCEPTION with the raised error in *excep: the
  // interpreter turns it into a script error like any host failure.
  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args, Variant* result,
                 ExcepInfo* excep) override;
  std::u16string TypeName() const override { return u"ErrObject"; }

 private:
  static bool Given(std::span<const Variant> args, std::size_t i);
  HResult Raise(std::span<const Variant> args, ExcepInfo* excep);

  int number_ = 0;
  int help_context_ = 0;
  std::u16string description_;
  std::u16string source_;
  std::u16string help_file_;
};

}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_ERR_OBJECT_H_
