// Automation error codes (HRESULT values) shared by Variant conversions, the
// Dispatch interface and the script interpreter. The numbers are COM's, so a
// code can be shown and compared the way page authors know them.
#ifndef LUN_AUTOMATION_HRESULT_H_
#define LUN_AUTOMATION_HRESULT_H_

#include <cstdint>

namespace lun {

using HResult = std::int32_t;

inline constexpr HResult Hr(std::uint32_t code) {
  return static_cast<HResult>(code);
}

inline constexpr HResult S_OK = 0;
inline constexpr HResult S_FALSE = 1;
inline constexpr HResult E_NOTIMPL = Hr(0x80004001);
inline constexpr HResult E_POINTER = Hr(0x80004003);
inline constexpr HResult E_ABORT = Hr(0x80004004);
inline constexpr HResult E_FAIL = Hr(0x80004005);
inline constexpr HResult E_UNEXPECTED = Hr(0x8000FFFF);
inline constexpr HResult E_OUTOFMEMORY = Hr(0x8007000E);
inline constexpr HResult E_INVALIDARG = Hr(0x80070057);
inline constexpr HResult DISP_E_UNKNOWNINTERFACE = Hr(0x80020001);
inline constexpr HResult DISP_E_MEMBERNOTFOUND = Hr(0x80020003);
inline constexpr HResult DISP_E_PARAMNOTFOUND = Hr(0x80020004);
inline constexpr HResult DISP_E_TYPEMISMATCH = Hr(0x80020005);
inline constexpr HResult DISP_E_UNKNOWNNAME = Hr(0x80020006);
inline constexpr HResult DISP_E_NONAMEDARGS = Hr(0x80020007);
inline constexpr HResult DISP_E_BADVARTYPE = Hr(0x80020008);
inline constexpr HResult DISP_E_EXCEPTION = Hr(0x80020009);
inline constexpr HResult DISP_E_OVERFLOW = Hr(0x8002000A);
inline constexpr HResult DISP_E_BADINDEX = Hr(0x8002000B);
inline constexpr HResult DISP_E_BADPARAMCOUNT = Hr(0x8002000E);
inline constexpr HResult DISP_E_PARAMNOTOPTIONAL = Hr(0x8002000F);
inline constexpr HResult DISP_E_DIVBYZERO = Hr(0x80020012);

// Script run-time errors travel as FACILITY_CONTROL codes: 0x800A0000 + n.
inline constexpr HResult kControlFacilityBase = Hr(0x800A0000);
inline constexpr HResult ScriptErrorCode(int number) {
  return static_cast<HResult>(0x800A0000u + static_cast<std::uint32_t>(number & 0xFFFF));
}

inline constexpr bool Failed(HResult hr) { return hr < 0; }
inline constexpr bool Succeeded(HResult hr) { return hr >= 0; }

}  // namespace lun

#endif  // LUN_AUTOMATION_HRESULT_H_
