#include "automation/dictionary.h"

#include <functional>

#include "automation/text_case.h"

namespace lun {

namespace {

constexpr MemberName kMembers[] = {
    {u"Item", Dictionary::kItem},       {u"Add", Dictionary::kAdd},
    {u"Exists", Dictionary::kExists},   {u"Key", Dictionary::kKey},
    {u"Keys", Dictionary::kKeys},       {u"Items", Dictionary::kItems},
    {u"Remove", Dictionary::kRemove},   {u"RemoveAll", Dictionary::kRemoveAll},
    {u"Count", Dictionary::kCount},     {u"CompareMode", Dictionary::kCompareMode},
    {u"_NewEnum", DISPID_NEWENUM},
};

constexpr std::u16string_view kDuplicate =
    u"This key is already associated with an element of this collection";
constexpr std::u16string_view kNotFound = u"Element not found";

}  // namespace

std::size_t Dictionary::KeyHash::operator()(const KeyForm& k) const {
  std::size_t h = std::hash<int>()(k.kind);
  h ^= std::hash<double>()(k.number) * 31;
  h ^= std::hash<std::u16string>()(k.text) * 17;
  h ^= std::hash<const void*>()(k.object);
  return h;
}

HResult Dictionary::Normalize(const Variant& key, KeyForm* form,
                              ExcepInfo* excep) const {
  if (key.is_array()) return RaiseException(excep, 13, u"Type mismatch");
  switch (key.type()) {
    case VT_EMPTY:
      form->kind = 0;
      return S_OK;
    case VT_NULL:
      form->kind = 1;
      return S_OK;
    case VT_BSTR:
      form->kind = 3;
      form->text = compare_mode_ == 0 ? std::u16string(key.AsString())
                                      : FoldCase(key.AsString());
      return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      form->kind = 4;
      form->object = key.AsObject().get();
      return S_OK;
    case VT_ERROR:
      return RaiseException(excep, 13, u"Type mismatch");
    default:
      form->kind = 2;
      form->number = key.AsDouble();
      if (form->number == 0) form->number = 0;  // -0 and 0 are one key
      return S_OK;
  }
}

void Dictionary::Reindex() {
  index_.clear();
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    KeyForm f;
    (void)Normalize(entries_[i].key, &f, nullptr);
    index_.emplace(std::move(f), i);
  }
}

HResult Dictionary::Add(const Variant& key, const Variant& item,
                        ExcepInfo* excep) {
  KeyForm f;
  if (HResult hr = Normalize(key, &f, excep); hr != S_OK) return hr;
  if (index_.count(f)) return RaiseException(excep, 457, kDuplicate);
  index_.emplace(std::move(f), entries_.size());
  entries_.push_back({key, item});
  return S_OK;
}

bool Dictionary::Exists(const Variant& key) const { return Find(key) != nullptr; }

const Variant* Dictionary::Find(const Variant& key) const {
  KeyForm f;
  if (Normalize(key, &f, nullptr) != S_OK) return nullptr;
  auto it = index_.find(f);
  return it == index_.end() ? nullptr : &entries_[it->second].item;
}

Variant* Dictionary::FindOrAdd(const Variant& key, ExcepInfo* excep, HResult* hr) {
  KeyForm f;
  *hr = Normalize(key, &f, excep);
  if (*hr != S_OK) return nullptr;
  auto it = index_.find(f);
  if (it != index_.end()) return &entries_[it->second].item;
  index_.emplace(std::move(f), entries_.size());
  entries_.push_back({key, Variant()});
  return &entries_.back().item;
}

HResult Dictionary::GetItem(const Variant& key, Variant* item,
                            ExcepInfo* excep) {
  // Reading a missing key adds it with Empty: pages rely on Count growing.
  HResult hr = S_OK;
  Variant* found = FindOrAdd(key, excep, &hr);
  if (found) *item = *found;
  return hr;
}

HResult Dictionary::SetItem(const Variant& key, const Variant& item,
                            ExcepInfo* excep) {
  HResult hr = S_OK;
  Variant* found = FindOrAdd(key, excep, &hr);
  if (found) *found = item;
  return hr;
}

HResult Dictionary::RenameKey(const Variant& old_key, const Variant& new_key,
                              ExcepInfo* excep) {
  KeyForm from, to;
  if (HResult hr = Normalize(old_key, &from, excep); hr != S_OK) return hr;
  if (HResult hr = Normalize(new_key, &to, excep); hr != S_OK) return hr;
  auto it = index_.find(from);
  if (it == index_.end()) return RaiseException(excep, 32811, kNotFound);
  if (index_.count(to)) return RaiseException(excep, 457, kDuplicate);
  std::size_t pos = it->second;
  index_.erase(it);
  entries_[pos].key = new_key;
  index_.emplace(std::move(to), pos);
  return S_OK;
}

HResult Dictionary::Remove(const Variant& key, ExcepInfo* excep) {
  KeyForm f;
  if (HResult hr = Normalize(key, &f, excep); hr != S_OK) return hr;
  auto it = index_.find(f);
  if (it == index_.end()) return RaiseException(excep, 32811, kNotFound);
  std::size_t pos = it->second;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(pos));
  index_.erase(it);
  for (auto& [k, i] : index_) {
    if (i > pos) --i;
  }
  return S_OK;
}

Dictionary::~Dictionary() {
  std::vector<Variant> children;
  TakeChildren(&children);
  ReleaseNested(std::move(children));
}

void Dictionary::TakeChildren(std::vector<Variant>* out) {
  for (auto& e : entries_) {
    if (e.key.is_object() || e.key.is_array()) out->push_back(std::move(e.key));
    if (!e.item.is_empty()) out->push_back(std::move(e.item));
  }
  entries_.clear();
  index_.clear();
}

void Dictionary::RemoveAll() {
  entries_.clear();
  index_.clear();
}

HResult Dictionary::SetCompareMode(int mode, ExcepInfo* excep) {
  if (mode < 0 || mode > 2 || !entries_.empty()) {
    return RaiseException(excep, 5, u"Invalid procedure call or argument");
  }
  compare_mode_ = mode;
  Reindex();
  return S_OK;
}

std::vector<Variant> Dictionary::KeyList() const {
  std::vector<Variant> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.push_back(e.key);
  return out;
}

std::vector<Variant> Dictionary::ItemList() const {
  std::vector<Variant> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.push_back(e.item);
  return out;
}

HResult Dictionary::GetIdOfName(std::u16string_view name, DispId* id) {
  return LookupMember(kMembers, name, id);
}

HResult Dictionary::NewEnum(std::shared_ptr<Enumerator>* out) {
  *out = std::make_shared<VectorEnumerator>(KeyList());
  return S_OK;
}

HResult Dictionary::Invoke(DispId id, std::uint16_t flags,
                           std::span<const Variant> args, Variant* result,
                           ExcepInfo* excep) {
  Variant ignored;
  if (!result) result = &ignored;
  *result = Variant();
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  const bool get = (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) != 0;
  auto count = [&](std::size_t n) { return args.size() == n; };
  switch (id) {
    case kItem:
      if (put) {
        if (!count(2)) return DISP_E_BADPARAMCOUNT;
        return SetItem(args[0], args[1], excep);
      }
      if (!count(1)) return DISP_E_BADPARAMCOUNT;
      return GetItem(args[0], result, excep);
    case kAdd:
      if (put || !get) return DISP_E_MEMBERNOTFOUND;
      if (!count(2)) return DISP_E_BADPARAMCOUNT;
      return Add(args[0], args[1], excep);
    case kExists:
      if (put) return DISP_E_MEMBERNOTFOUND;
      if (!count(1)) return DISP_E_BADPARAMCOUNT;
      *result = Variant::Bool(Exists(args[0]));
      return S_OK;
    case kKey:
      if (!put) return DISP_E_MEMBERNOTFOUND;  // write-only
      if (!count(2)) return DISP_E_BADPARAMCOUNT;
      return RenameKey(args[0], args[1], excep);
    case kKeys:
    case kItems:
      if (put) return DISP_E_MEMBERNOTFOUND;
      if (!count(0)) return DISP_E_BADPARAMCOUNT;
      *result = Variant::VariantArray(id == kKeys ? KeyList() : ItemList());
      return S_OK;
    case kRemove:
      if (put) return DISP_E_MEMBERNOTFOUND;
      if (!count(1)) return DISP_E_BADPARAMCOUNT;
      return Remove(args[0], excep);
    case kRemoveAll:
      if (put) return DISP_E_MEMBERNOTFOUND;
      if (!count(0)) return DISP_E_BADPARAMCOUNT;
      RemoveAll();
      return S_OK;
    case kCount:
      if (put) return DISP_E_MEMBERNOTFOUND;
      if (!count(0)) return DISP_E_BADPARAMCOUNT;
      *result = Variant::I4(static_cast<std::int32_t>(entries_.size()));
      return S_OK;
    case kCompareMode: {
      if (put) {
        if (!count(1)) return DISP_E_BADPARAMCOUNT;
        Variant mode;
        if (ChangeType(args[0], VT_I4, &mode) != S_OK) {
          return RaiseException(excep, 5, u"Invalid procedure call or argument");
        }
        return SetCompareMode(static_cast<int>(mode.AsInteger()), excep);
      }
      if (!count(0)) return DISP_E_BADPARAMCOUNT;
      *result = Variant::I4(compare_mode_);
      return S_OK;
    }
    case DISPID_NEWENUM: {
      std::shared_ptr<Enumerator> e;
      (void)NewEnum(&e);
      *result = Variant::Object(std::move(e));
      return S_OK;
    }
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace lun
