// The write test: rights before type, conversion with OPC_S_CLAMP, the range of analog points.
#include "group/tested_write.h"
#include "tests/support/hresult.h"

#include "opcerror.h"

#include <gtest/gtest.h>

#include <cmath>
#include <oleauto.h>

namespace {

PointDescriptor Analog(DWORD rights, bool limits) {
    PointDescriptor d;
    d.canonicalType = VT_R4;
    d.accessRights = rights;
    d.pointKind = 3;
    d.hasLimits = limits ? 1 : 0;
    d.lowLimit = 0;
    d.highLimit = 100;
    return d;
}

PointDescriptor Switch(DWORD rights) {
    PointDescriptor d;
    d.canonicalType = VT_BOOL;
    d.accessRights = rights;
    d.pointKind = 4;
    return d;
}

VARIANT Make(VARTYPE vt, double number, const wchar_t* text = nullptr) {
    VARIANT v;
    VariantInit(&v);
    if (vt == VT_BSTR) {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
        return v;
    }
    if (vt == VT_R4 || vt == VT_R8) {  // set directly: the platform refuses to convert NaN and infinity
        v.vt = vt;
        if (vt == VT_R4) v.fltVal = static_cast<float>(number);
        else v.dblVal = number;
        return v;
    }
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_R8;
    source.dblVal = number;
    VariantChangeType(&v, &source, 0, vt);
    return v;
}

TEST(WriteTest, Cases) {
    const struct {
        const char* name;
        PointDescriptor point;
        VARIANT value;
        HRESULT expected;
        VARTYPE passedOnType;
        double passedOn;
    } cases[] = {
        {"R4 150 to 0..100", Analog(3, true), Make(VT_R4, 150), OPC_E_RANGE, VT_R4, 150},
        {"R4 100 to 0..100 (limit accepted)", Analog(3, true), Make(VT_R4, 100), S_OK, VT_R4, 100},
        {"R4 0 to 0..100 (limit accepted)", Analog(3, true), Make(VT_R4, 0), S_OK, VT_R4, 0},
        {"R4 -0.5 to 0..100", Analog(3, true), Make(VT_R4, -0.5), OPC_E_RANGE, VT_R4, -0.5},
        {"R8 150 to 0..100: the converted value is range-tested", Analog(3, true), Make(VT_R8, 150), OPC_E_RANGE, VT_R8, 150},
        {"R8 100 to 0..100 converted", Analog(3, true), Make(VT_R8, 100), OPC_S_CLAMP, VT_R4, 100},
        {"I4 -1 to 0..100", Analog(3, true), Make(VT_I4, -1), OPC_E_RANGE, VT_I4, -1},
        {"R8 NaN without limits", Analog(3, false), Make(VT_R8, std::nan("")), OPC_E_RANGE, VT_R8, std::nan("")},
        {"R4 infinity to a switch", Switch(3), Make(VT_R4, HUGE_VAL), OPC_E_RANGE, VT_R4, HUGE_VAL},
        {"text 12.5 converted", Analog(3, true), Make(VT_BSTR, 0, L"12.5"), OPC_S_CLAMP, VT_R4, 12.5},
        {"text abc", Analog(3, true), Make(VT_BSTR, 0, L"abc"), OPC_E_BADTYPE, VT_BSTR, 0},
        {"read-only before the type", Analog(1, true), Make(VT_BSTR, 0, L"abc"), OPC_E_BADRIGHTS, VT_BSTR, 0},
        {"R4 150 without limits", Analog(3, false), Make(VT_R4, 150), S_OK, VT_R4, 150},
        {"write-only rights", Analog(2, false), Make(VT_R4, 1), S_OK, VT_R4, 1},
        {"switch BOOL", Switch(3), Make(VT_BOOL, -1), S_OK, VT_BOOL, -1},
        {"switch I4 1 converted", Switch(3), Make(VT_I4, 1), OPC_S_CLAMP, VT_BOOL, -1},
        {"switch read-only", Switch(1), Make(VT_BOOL, 0), OPC_E_BADRIGHTS, VT_BOOL, 0},
    };
    for (auto c : cases) {
        EXPECT_HR(WriteTest(c.point, c.value), c.expected) << c.name;
        EXPECT_EQ(c.value.vt, c.passedOnType) << c.name;
        if (c.value.vt != VT_BSTR) {
            VARIANT number;
            VariantInit(&number);
            ASSERT_HR(VariantChangeType(&number, &c.value, 0, VT_R8), S_OK) << c.name;
            if (std::isnan(c.passedOn)) {
                EXPECT_TRUE(std::isnan(number.dblVal)) << c.name;
            } else {
                EXPECT_EQ(number.dblVal, c.passedOn) << c.name;
            }
        }
        VariantClear(&c.value);
    }
}

}  // namespace
