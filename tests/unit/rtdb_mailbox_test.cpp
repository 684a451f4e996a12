// Finding the runtime through its mailbox: which mailboxes count as a running runtime, what the
// server leaves in it, and when the database cannot be attached.
#include "rtdb/data_access.h"
#include "rtdb/rt_library.h"
#include "tests/support/in_process_runtime.h"
#include "rtdb/standin/rt_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint64_t kUntouched = 0x5A5A5A5A5A5A5A5Aull;

std::vector<rtimage::Station> OneStation() {
    rtimage::Station station{"S", true, {}, {}};
    station.analogs.push_back({"A", "", 0, 0, false, 1.0});
    return {station};
}

std::uint64_t Read64(const std::byte* mailbox, std::size_t offset) {
    std::uint64_t value;
    std::memcpy(&value, mailbox + offset, sizeof value);
    return value;
}

void Write64(std::byte* mailbox, std::size_t offset, std::uint64_t value) {
    std::memcpy(mailbox + offset, &value, sizeof value);
}

std::uint64_t Low32(HWND window) { return reinterpret_cast<std::uintptr_t>(window) & 0xFFFFFFFFu; }

TEST(Mailbox, WhichScadaWindowsCountAsARunningRuntime) {
    const std::vector<rtimage::Station> plant = OneStation();
    InProcessRuntime runtime(plant);
    const std::uint64_t live = Low32(runtime.window());
    HWND gone = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(gone, nullptr);
    DestroyWindow(gone);

    const struct {
        const char* name;
        std::uint64_t scadaWindow;
        bool running;
    } cases[] = {
        {"live window", live, true},
        {"high half set, live low half", 0xDEADBEEF00000000ull | live, true},
        {"both halves 0", 0, false},
        {"only the high half set", 0x0000000100000000ull, false},
        {"window gone", Low32(gone), false},
    };
    const HWND server = reinterpret_cast<HWND>(std::uintptr_t{0x1234});
    for (const auto& c : cases) {
        Write64(runtime.mailbox(), rt::mailbox::kScadaWindow, c.scadaWindow);
        Write64(runtime.mailbox(), rt::mailbox::kServerWindow, kUntouched);
        rtdb::CDataAccessEx access(server, rtdb::Settings{});
        EXPECT_EQ(access.IsScadaRunning(), c.running) << c.name;
        EXPECT_EQ(Low32(access.scadaWindow()), c.running ? live : 0) << c.name;
        EXPECT_EQ(Read64(runtime.mailbox(), rt::mailbox::kServerWindow), c.running ? 0x1234 : kUntouched)
            << c.name << ": the server window is published only to a running runtime";
        EXPECT_EQ(access.AttachDatabase(), c.running) << c.name;
    }
}

TEST(Mailbox, ServerWindowIsSignExtendedFromItsLow32BitsAndClearedOnRelease) {
    const std::vector<rtimage::Station> plant = OneStation();
    InProcessRuntime runtime(plant);
    const struct {
        std::uint64_t handle;
        std::uint64_t published;
    } cases[] = {
        {0x0000000000001234ull, 0x0000000000001234ull},
        {0x0000000080001234ull, 0xFFFFFFFF80001234ull},
        {0x0000ABCD00001234ull, 0x0000000000001234ull},
        {0xFFFFFFFF80001234ull, 0xFFFFFFFF80001234ull},
        {0x000000007FFFFFFFull, 0x000000007FFFFFFFull},
    };
    for (const auto& c : cases) {
        Write64(runtime.mailbox(), rt::mailbox::kServerWindow, kUntouched);
        rtdb::CDataAccessEx access(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(c.handle)), rtdb::Settings{});
        ASSERT_TRUE(access.IsScadaRunning());
        EXPECT_EQ(Read64(runtime.mailbox(), rt::mailbox::kServerWindow), c.published) << std::hex << c.handle;
        access.ReleaseServerWindow();
        EXPECT_EQ(Read64(runtime.mailbox(), rt::mailbox::kServerWindow), 0u) << std::hex << c.handle;
        Write64(runtime.mailbox(), rt::mailbox::kServerWindow, kUntouched);
        access.ReleaseServerWindow();  // the view is gone: a second release writes nothing
        EXPECT_EQ(Read64(runtime.mailbox(), rt::mailbox::kServerWindow), kUntouched) << std::hex << c.handle;
    }
}

TEST(Mailbox, NoMailboxMeansNoRuntime) {
    rtdb::CDataAccessEx access(nullptr, rtdb::Settings{});
    EXPECT_FALSE(access.IsScadaRunning());
    EXPECT_FALSE(access.AttachDatabase());
    access.ReleaseServerWindow();  // nothing to release
}

// The descriptor names more bytes than the database's shared memory has: nothing can be mapped.
TEST(Mailbox, DatabaseLargerThanItsSharedMemoryIsNotAttached) {
    const std::vector<rtimage::Station> plant = OneStation();
    InProcessRuntime runtime(plant);
    std::byte* descriptor = runtime.mailbox() + rt::mailbox::kSystemBlock + rt::mailbox::kMemoryDescriptor;
    rtimage::writeU32(descriptor, rtimage::readU32(descriptor) + 64 * 1024 * 1024);
    rtdb::CDataAccessEx access(nullptr, rtdb::Settings{});
    ASSERT_TRUE(access.IsScadaRunning());
    EXPECT_FALSE(access.AttachDatabase());
}

// A runtime that has published its mailbox but not (or no longer) its database.
TEST(Mailbox, MissingDatabaseIsNotAttached) {
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(rt::mailbox::kMappedSize), rt::mailbox::kName);
    ASSERT_NE(mapping, nullptr);
    auto* mailbox = static_cast<std::byte*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(mailbox, nullptr);
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    Write64(mailbox, rt::mailbox::kScadaWindow, Low32(window));
    rtimage::writeU32(mailbox + rt::mailbox::kSystemBlock + rt::mailbox::kMemoryDescriptor, 4096);
    {
        rtdb::CDataAccessEx access(nullptr, rtdb::Settings{});
        EXPECT_TRUE(access.IsScadaRunning());
        EXPECT_FALSE(access.AttachDatabase());
    }
    DestroyWindow(window);
    UnmapViewOfFile(mailbox);
    CloseHandle(mapping);
}

}  // namespace
