// The server relies on the platform's variant coercion for every conversion between a client's
// type and a point's type. These cases pin the behaviour it relies on, so a change of Wine version
// or of the test environment's locale shows here first and not as a wrong value in a write test.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

struct CoercionCase {
    const char* name;
    VARIANT (*make)();
    VARTYPE to;
    HRESULT expected;
    double expectedValue;  // read from the result as a double when `expected` is S_OK
};

VARIANT bstr(const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

VARIANT r4(float value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R4;
    v.fltVal = value;
    return v;
}

VARIANT r8(double value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}

double asDouble(VARIANT& v) {
    VARIANT d;
    VariantInit(&d);
    if (FAILED(VariantChangeType(&d, &v, 0, VT_R8))) return NAN;
    return d.dblVal;
}

const CoercionCase kCases[] = {
    {"\"12.5\" -> VT_R4", [] { return bstr(L"12.5"); }, VT_R4, S_OK, 12.5},
    {"\"abc\" -> VT_R4", [] { return bstr(L"abc"); }, VT_R4, DISP_E_TYPEMISMATCH, 0},
    {"VT_R4 12.5 -> VT_BOOL", [] { return r4(12.5f); }, VT_BOOL, S_OK, -1},
    {"VT_R4 0 -> VT_BOOL", [] { return r4(0.0f); }, VT_BOOL, S_OK, 0},
    {"VT_R4 1e10 -> VT_I2", [] { return r4(1e10f); }, VT_I2, DISP_E_OVERFLOW, 0},
    {"VT_R8 40000 -> VT_I2", [] { return r8(40000.0); }, VT_I2, DISP_E_OVERFLOW, 0},
    {"VT_R8 2.5 -> VT_I4 (banker's rounding)", [] { return r8(2.5); }, VT_I4, S_OK, 2},
    {"VT_R8 3.5 -> VT_I4 (banker's rounding)", [] { return r8(3.5); }, VT_I4, S_OK, 4},
    {"VT_R8 150 -> VT_R4", [] { return r8(150.0); }, VT_R4, S_OK, 150},
};

TEST(PlatformCoercion, VariantChangeTypeMatchesWindows) {
    for (const auto& c : kCases) {
        VARIANT in = c.make();
        VARIANT out;
        VariantInit(&out);
        const HRESULT hr = VariantChangeType(&out, &in, 0, c.to);
        EXPECT_EQ(hr, c.expected) << c.name << ": got 0x" << std::hex << hr << ", expected 0x" << c.expected;
        if (SUCCEEDED(hr) && hr == c.expected) {
            EXPECT_EQ(out.vt, c.to) << c.name;
            EXPECT_EQ(asDouble(out), c.expectedValue) << c.name;
        }
        VariantClear(&in);
        VariantClear(&out);
    }
}

TEST(PlatformCoercion, BoolToTextIsMinusOneAndZero) {
    VARIANT in;
    VariantInit(&in);
    in.vt = VT_BOOL;
    in.boolVal = VARIANT_TRUE;
    VARIANT out;
    VariantInit(&out);
    ASSERT_EQ(VariantChangeType(&out, &in, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::wstring(out.bstrVal), L"-1");
    VariantClear(&out);
}

}  // namespace
