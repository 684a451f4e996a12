#include "com/task_memory.h"

#include "com_malloc_spy.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace korvex::com {
namespace {

using testing::MallocSpy;

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
    return text;
}

// What a record owns is freed on failure paths: the task-array cases of com_enumerator_test.
TEST(TaskArrayTest, AllocationEdgeCases) {
    MallocSpy& spy = MallocSpy::installed();
    const long liveBefore = spy.live();

    ErrorArray errors;
    HRESULT hr = errors.allocate(0);
    EXPECT_EQ(hr, S_OK) << hex(hr);
    EXPECT_EQ(errors.data(), nullptr) << "a count of 0 hands out a null array";
    EXPECT_EQ(errors.release(), nullptr);
    EXPECT_EQ(spy.live(), liveBefore);

    ASSERT_EQ(errors.allocate(4), S_OK);
    EXPECT_EQ(errors[3], S_OK);
    hr = errors.allocate(std::numeric_limits<std::size_t>::max() / 2);
    EXPECT_EQ(hr, E_OUTOFMEMORY) << "byte size overflows: got " << hex(hr);
    EXPECT_TRUE(errors.empty()) << "a failed allocation leaves nothing behind";
    EXPECT_EQ(spy.live(), liveBefore) << "the earlier array was freed";

    TaskArray<VARIANT, ClearVariant> values;
    ASSERT_EQ(values.allocate(2), S_OK);
    EXPECT_EQ(V_VT(&values[0]), VT_EMPTY);
    V_VT(&values[1]) = VT_R4;
    V_R4(&values[1]) = 200.0f;
    values.reset();
    EXPECT_EQ(spy.live(), liveBefore);
}

} // namespace
} // namespace korvex::com
