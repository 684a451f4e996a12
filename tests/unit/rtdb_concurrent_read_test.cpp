// Point reads while the runtime rewrites the value: the double sits at an odd offset, and no read
// may hand out a value that mixes the bytes of two writes.
#include "addrspace/address_space.h"
#include "rtdb/rt_library.h"
#include "tests/support/in_process_runtime.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// The high halves differ in every byte, and the low halves are a rounding tie (A: to even, so down)
// against a value just above one (B: up), so that any mix of the two, low bytes from one and high
// bytes from the other, still shows after the reader rounds it to single precision.
constexpr std::uint64_t kPatternA = 0x3FF1234510000000ull;
constexpr std::uint64_t kPatternB = 0xC00E9A7E10000001ull;

float AsFloat(std::uint64_t bits) { return static_cast<float>(std::bit_cast<double>(bits)); }
std::uint32_t FloatBits(float value) { return std::bit_cast<std::uint32_t>(value); }

std::uint64_t Mix(std::uint64_t low, std::uint64_t high, int lowBytes) {
    const std::uint64_t mask = (std::uint64_t{1} << (8 * lowBytes)) - 1;
    return (low & mask) | (high & ~mask);
}

TEST(ConcurrentRead, EveryMixOfThePatternsIsVisibleInSinglePrecision) {
    const std::uint32_t a = FloatBits(AsFloat(kPatternA)), b = FloatBits(AsFloat(kPatternB));
    ASSERT_NE(a, b);
    for (int lowBytes = 1; lowBytes < 8; ++lowBytes) {
        for (const auto& [low, high] : {std::pair{kPatternA, kPatternB}, std::pair{kPatternB, kPatternA}}) {
            const std::uint32_t mixed = FloatBits(AsFloat(Mix(low, high, lowBytes)));
            EXPECT_NE(mixed, a) << lowBytes << " low bytes of " << std::hex << low;
            EXPECT_NE(mixed, b) << lowBytes << " low bytes of " << std::hex << low;
        }
    }
}

TEST(ConcurrentRead, ReadsUnderAFlippingWriterSeeOnlyWholeValues) {
    rtimage::Station station{"S", true, {}, {}};
    station.analogs.push_back({"V", "", 0, 0, false, std::bit_cast<double>(kPatternA)});
    const std::vector<rtimage::Station> plant{station};
    InProcessRuntime runtime(plant);
    rtdb::CDataAccessEx access(nullptr, rtdb::Settings{});
    ASSERT_TRUE(access.AttachDatabase());
    COPCAddressSpaceMgt space;
    ASSERT_TRUE(space.BuildAddressSpace(access));

    std::byte* value = runtime.view().analog(0, 0) + rt::analog::kValue;
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(value) % 2, 1u) << "the value must sit at an odd address";
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            rtimage::storeLiveDouble(value, std::bit_cast<double>(kPatternB));
            rtimage::storeLiveDouble(value, std::bit_cast<double>(kPatternA));
        }
    });

    const std::uint32_t a = FloatBits(AsFloat(kPatternA)), b = FloatBits(AsFloat(kPatternB));
    long seenA = 0, seenB = 0, failed = 0, mixed = 0;
    std::uint32_t firstMix = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < end) {
        for (int i = 0; i < 1000; ++i) {
            VARIANT read;
            VariantInit(&read);
            WORD quality = 0;
            FILETIME stamp{};
            if (!space.ReadPointValue(1, &read, &quality, &stamp) || read.vt != VT_R4 || quality != 0xC0) {
                ++failed;
                continue;
            }
            const std::uint32_t bits = FloatBits(read.fltVal);
            if (bits == a) {
                ++seenA;
            } else if (bits == b) {
                ++seenB;
            } else if (mixed++ == 0) {
                firstMix = bits;
            }
        }
    }
    stop = true;
    writer.join();

    EXPECT_EQ(mixed, 0) << "torn reads, the first as float bits 0x" << std::hex << firstMix;
    EXPECT_EQ(failed, 0) << "reads that failed or were not VT_R4 with quality GOOD";
    EXPECT_GT(seenA, 0) << "the writer never let a read see the first pattern";
    EXPECT_GT(seenB, 0) << "the writer never let a read see the second pattern";
}

}  // namespace
