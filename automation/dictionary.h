// Dictionary: the "Scripting.Dictionary" object. Pages create it with
// CreateObject; the host uses it for QueryString, Form, ServerVariables and
// the session table.
//
// Keys are unique and entries keep their insertion order. Key matching:
// strings by CompareMode (0 binary, 1 text = case-insensitive, 2 treated as
// 1); numbers by value across numeric subtypes (1, 1.0, CLng(1) and True's
// -1 are numbers); a string never equals a number; objects by identity;
// Empty and Null are keys of their own. Arrays cannot be keys.
//
// Members (script view): Add key, item; Exists(key); Item(key) (default
// member: a missing key is added with an Empty item); Item(key) = v;
// Key(old) = new; Keys(); Items(); Remove key; RemoveAll; Count;
// CompareMode; For Each enumerates the keys. Errors are script errors
// raised as DISP_E_EXCEPTION: 457 duplicate key, 32811 missing key, 5 bad
// CompareMode, 13 array key.
//
// Thread safety: none; the session table's users serialise access.
#ifndef LUN_AUTOMATION_DICTIONARY_H_
#define LUN_AUTOMATION_DICTIONARY_H_

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "automation/dispatch.h"

namespace lun {

class Dictionary : public Dispatch {
 public:
  // Dispatch ids of the members.
  enum : DispId {
    kItem = DISPID_VALUE,
    kAdd = 1,
    kExists = 2,
    kKey = 3,
    kKeys = 4,
    kItems = 5,
    kRemove = 6,
    kRemoveAll = 7,
    kCount = 8,
    kCompareMode = 9,
  };

  Dictionary() = default;
  ~Dictionary() override;

  // C++ side of the members. Each returns S_OK or DISP_E_EXCEPTION with
  // `excep` (may be null) filled as a script error.
  HResult Add(const Variant& key, const Variant& item, ExcepInfo* excep);
  bool Exists(const Variant& key) const;
  // Item for `key`; a missing key is added with Empty (the script rule).
  HResult GetItem(const Variant& key, Variant* item, ExcepInfo* excep);
  // Looks a key up without adding it; null when absent.
  const Variant* Find(const Variant& key) const;
  HResult SetItem(const Variant& key, const Variant& item, ExcepInfo* excep);
  HResult RenameKey(const Variant& old_key, const Variant& new_key,
                    ExcepInfo* excep);
  HResult Remove(const Variant& key, ExcepInfo* excep);
  void RemoveAll();
  std::size_t Count() const { return entries_.size(); }
  int compare_mode() const { return compare_mode_; }
  // 0, 1 or 2 while empty; else error 5.
  HResult SetCompareMode(int mode, ExcepInfo* excep);
  std::vector<Variant> KeyList() const;
  std::vector<Variant> ItemList() const;
  // Calls `visit` with every object held as a key or an item (cycle
  // collection by the script engine).
  template <typename F>
  void ForEachObject(F visit) const {
    for (const auto& e : entries_) {
      if (e.key.is_object() && e.key.AsObject()) visit(e.key.AsObject().get());
      if (e.item.is_object() && e.item.AsObject()) visit(e.item.AsObject().get());
    }
  }

  // Dispatch.
  HResult GetIdOfName(std::u16string_view name, DispId* id) override;
  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args,
                 Variant* result, ExcepInfo* excep) override;
  HResult NewEnum(std::shared_ptr<Enumerator>* out) override;
  std::u16string TypeName() const override { return u"Dictionary"; }
  void TakeChildren(std::vector<Variant>* out) override;

 private:
  struct Entry {
    Variant key;
    Variant item;
  };
  // Key reduced to what matching compares.
  struct KeyForm {
    int kind = 0;  // 0 Empty, 1 Null, 2 number, 3 string, 4 object
    double number = 0;
    std::u16string text;
    const void* object = nullptr;
    bool operator==(const KeyForm& o) const {
      return kind == o.kind && number == o.number && text == o.text &&
             object == o.object;
    }
  };
  struct KeyHash {
    std::size_t operator()(const KeyForm& k) const;
  };

  HResult Normalize(const Variant& key, KeyForm* form, ExcepInfo* excep) const;
  // The item slot of `key`, added with Empty when missing; null with *hr
  // set when the key is unusable.
  Variant* FindOrAdd(const Variant& key, ExcepInfo* excep, HResult* hr);
  void Reindex();

  int compare_mode_ = 0;
  std::vector<Entry> entries_;
  std::unordered_map<KeyForm, std::size_t, KeyHash> index_;
};

}  // namespace lun

#endif  // LUN_AUTOMATION_DICTIONARY_H_
