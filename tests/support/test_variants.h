// Values that test clients send: a number in a given type, a text. The caller owns the result.
#pragma once

#include <oleauto.h>

namespace korvex::test {

inline VARIANT Number(VARTYPE vt, double value) {
    VARIANT source, v;
    VariantInit(&source);
    VariantInit(&v);
    source.vt = VT_R8;
    source.dblVal = value;
    VariantChangeType(&v, &source, 0, vt);
    return v;
}

inline VARIANT Text(const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

}  // namespace korvex::test
