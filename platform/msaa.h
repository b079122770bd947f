#pragma once
// What a Microsoft Active Accessibility server and its clients share: the IAccessible
// interface id, and the VARIANT that names a child (or CHILDID_SELF).

#include <windows.h>
#include <oleacc.h>

namespace korvel {

// Defined here rather than taken from liboleacc.a: MinGW's import library exports it as
// data, and linked beside libuuid COM marshalled a wrong interface id, so
// LresultFromObject failed with E_NOINTERFACE.
inline constexpr IID k_iid_accessible{0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// A VT_I4 VARIANT: a child id, a role or a state.
inline VARIANT long_variant(LONG value) noexcept {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

}  // namespace korvel
