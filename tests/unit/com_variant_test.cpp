#include "com/variant.h"

#include <gtest/gtest.h>

#include <utility>

namespace korvex::com {
namespace {

TEST(VariantTest, CopiesAreDeepAndMovesLeaveTheSourceEmpty) {
    VARIANT source;
    VariantInit(&source);
    V_VT(&source) = VT_BSTR;
    V_BSTR(&source) = SysAllocString(L"S1.analog.P1");

    Variant copy;
    ASSERT_EQ(copy.copyFrom(source), S_OK);
    ASSERT_EQ(copy.type(), VT_BSTR);
    EXPECT_NE(V_BSTR(&copy.get()), V_BSTR(&source));
    EXPECT_STREQ(V_BSTR(&copy.get()), L"S1.analog.P1");
    VariantClear(&source);
    EXPECT_STREQ(V_BSTR(&copy.get()), L"S1.analog.P1") << "the copy outlives the source";

    Variant moved(std::move(copy));
    EXPECT_EQ(copy.type(), VT_EMPTY);
    EXPECT_EQ(moved.type(), VT_BSTR);

    VARIANT handedOut = moved.detach();
    EXPECT_EQ(moved.type(), VT_EMPTY);
    EXPECT_STREQ(V_BSTR(&handedOut), L"S1.analog.P1");

    Variant adopted;
    adopted.attach(handedOut);
    EXPECT_EQ(V_VT(&handedOut), VT_EMPTY);
    EXPECT_EQ(adopted.type(), VT_BSTR);
}

TEST(VariantTest, FailedCopyLeavesTheTargetEmpty) {
    VARIANT broken;
    VariantInit(&broken);
    V_VT(&broken) = 0x7FFF;  // no such type
    Variant target;
    V_VT(target.put()) = VT_I4;
    const HRESULT hr = target.copyFrom(broken);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(target.type(), VT_EMPTY);
    EXPECT_EQ(target.copyTo(nullptr), E_POINTER);
}

} // namespace
} // namespace korvex::com
