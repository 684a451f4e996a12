// Storing point values in their canonical type and handing them out in a client's type.
#include "values/coercion.h"
#include "values/value_record.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <cstring>

namespace {

using values::ValueRecord;

VARIANT R4(float v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_R4;
    x.fltVal = v;
    return x;
}

VARIANT R8(double v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_R8;
    x.dblVal = v;
    return x;
}

VARIANT Text(const wchar_t* text) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_BSTR;
    x.bstrVal = SysAllocString(text);
    return x;
}

FILETIME At(ULONGLONG ticks) {
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(ticks);
    t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return t;
}

TEST(ValueRecord, FreshRecordHandsOutZeroWithBadQualityAndCreationTime) {
    FILETIME before;
    CoFileTimeNow(&before);
    const ValueRecord record = ValueRecord::Fresh();
    VARIANT value;
    WORD quality = 0xFFFF;
    FILETIME stamp{};
    EXPECT_EQ(values::GetValue(record, VT_R4, VT_EMPTY, &value, &quality, &stamp), S_OK);
    EXPECT_EQ(value.vt, VT_R4);
    EXPECT_EQ(value.fltVal, 0.0f);
    EXPECT_EQ(quality, values::kQualityBad);
    EXPECT_GE(CompareFileTime(&stamp, &before), 0);

    EXPECT_EQ(values::GetValue(record, VT_BOOL, VT_EMPTY, &value, nullptr, nullptr), S_OK);
    EXPECT_EQ(value.vt, VT_BOOL);
    EXPECT_EQ(value.boolVal, VARIANT_FALSE);
}

TEST(ValueRecord, StoreConvertsToCanonicalTypeAndFailsWholly) {
    ValueRecord record = ValueRecord::Fresh();
    const VARIANT wide = R8(12.5);
    const WORD good = values::kQualityGood;
    const FILETIME stamp = At(1234567);
    ASSERT_EQ(values::StoreValue(record, VT_R4, &wide, &good, &stamp), S_OK);
    EXPECT_EQ(record.value.vt, VT_R4);
    EXPECT_EQ(record.value.fltVal, 12.5f);

    // A value that does not convert stores nothing: quality and timestamp keep their old values.
    VARIANT text = Text(L"abc");
    const WORD bad = values::kQualityBad;
    const FILETIME later = At(7654321);
    EXPECT_EQ(values::StoreValue(record, VT_R4, &text, &bad, &later), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(record.value.fltVal, 12.5f);
    EXPECT_EQ(record.quality, good);
    EXPECT_EQ(std::memcmp(&record.timestamp, &stamp, sizeof stamp), 0);
    VariantClear(&text);

    // A timestamp alone leaves value and quality.
    ASSERT_EQ(values::StoreValue(record, VT_R4, nullptr, nullptr, &later), S_OK);
    EXPECT_EQ(record.value.fltVal, 12.5f);
    EXPECT_EQ(record.quality, good);
    EXPECT_EQ(std::memcmp(&record.timestamp, &later, sizeof later), 0);
}

TEST(ValueRecord, OutOfServiceKeepsTimestamp) {
    ValueRecord record = ValueRecord::Fresh();
    const VARIANT v = R4(1.0f);
    const FILETIME stamp = At(99);
    ASSERT_EQ(values::StoreValue(record, VT_R4, &v, nullptr, &stamp), S_OK);
    values::ResetOutOfService(record);
    EXPECT_EQ(record.value.vt, VT_EMPTY);
    EXPECT_EQ(record.quality, values::kQualityOutOfService);
    EXPECT_EQ(std::memcmp(&record.timestamp, &stamp, sizeof stamp), 0);
}

TEST(ValueRecord, TimestampDateDropsMilliseconds) {
    SYSTEMTIME calendar{2026, 12, 0, 6, 8, 30, 15, 999};
    FILETIME stamp;
    ASSERT_TRUE(SystemTimeToFileTime(&calendar, &stamp));
    calendar.wMilliseconds = 0;
    DATE expected = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&calendar, &expected));
    EXPECT_DOUBLE_EQ(values::TimestampAsDate(stamp), expected);
}

struct RequestedTypeCase {
    VARTYPE canonical;
    VARTYPE requested;
    bool accepted;
};

TEST(RequestedType, ScalarsPassArraysReferencesAndInterfacesFail) {
    const RequestedTypeCase cases[] = {
        {VT_R4, VT_EMPTY, true},          {VT_R4, VT_I1, true},   {VT_R4, VT_UI8, true},
        {VT_R4, VT_BSTR, true},           {VT_R4, VT_BOOL, true}, {VT_R4, VT_DATE, true},
        {VT_R4, VT_CY, true},             {VT_R4, VT_DECIMAL, true},
        {VT_BOOL, VT_R8, true},           {VT_BOOL, VT_INT, true}, {VT_BOOL, VT_UINT, true},
        {VT_R4, VT_ARRAY | VT_R4, false}, {VT_R4, VT_BYREF | VT_R4, false},
        {VT_R4, VT_UNKNOWN, false},       {VT_R4, VT_DISPATCH, false}, {VT_BOOL, VT_RECORD, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(values::IsRequestedTypeAccepted(c.canonical, c.requested), c.accepted)
            << "canonical " << c.canonical << " requested 0x" << std::hex << c.requested;
    }
}

}  // namespace
