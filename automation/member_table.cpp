#include "automation/member_table.h"

namespace lun::member_table {

int FindEntry(std::span<const Shape* const> shapes, DispId id, std::uint16_t flags) {
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    const Shape& s = *shapes[i];
    if (s.id != id) continue;
    // A property may have separate get and put entries under one id.
    const bool accepts = put ? (s.flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0
                             : (s.flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) != 0;
    if (accepts) return static_cast<int>(i);
  }
  return -1;
}

HResult ConvertArgs(const Shape& shape, std::span<const Variant> args,
                    std::vector<Variant>* out) {
  out->clear();
  out->reserve(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Variant& a = args[i];
    VarType t = i < kMaxMemberParams ? shape.params[i] : VT_VARIANT;
    const bool missing = a.type() == VT_ERROR && a.AsError() == DISP_E_PARAMNOTFOUND;
    if (missing) {
      if (i < shape.min_params) return DISP_E_PARAMNOTOPTIONAL;
      out->push_back(a);
      continue;
    }
    if (t == VT_VARIANT || t == VT_EMPTY) {
      out->push_back(a);
      continue;
    }
    if (t == VT_DISPATCH) {
      if (!a.is_object()) return DISP_E_TYPEMISMATCH;
      out->push_back(a);
      continue;
    }
    if ((t & VT_ARRAY) != 0) {
      if (!a.is_array()) return DISP_E_TYPEMISMATCH;
      out->push_back(a);
      continue;
    }
    Variant v;
    HResult hr = ChangeType(a, t, &v);
    if (hr != S_OK) return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
    out->push_back(std::move(v));
  }
  return S_OK;
}

HResult ConvertResult(const Shape& shape, Variant* result) {
  if (shape.result == VT_VARIANT || shape.result == VT_EMPTY ||
      shape.result == VT_DISPATCH || (shape.result & VT_ARRAY) != 0 ||
      result->type() == shape.result || result->is_empty()) {
    return S_OK;
  }
  Variant v;
  HResult hr = ChangeType(*result, shape.result, &v);
  if (hr != S_OK) return hr;
  *result = std::move(v);
  return S_OK;
}

}  // namespace lun::member_table
