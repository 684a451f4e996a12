#include "com/standard_enumerators.h"

#include "com_malloc_spy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

// An enumerator of the IEnumOPCItemAttributes shape: Next allocates the array of records.
struct TestRecord {
    LPWSTR name;
    DWORD handle;
};

MIDL_INTERFACE("5d7c1a40-0c55-4e8a-9f1b-2a6e33c8a010")
IEnumTestRecords : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, TestRecord** records, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumTestRecords** clone) = 0;
};
__CRT_UUID_DECL(IEnumTestRecords, 0x5d7c1a40, 0x0c55, 0x4e8a, 0x9f, 0x1b, 0x2a, 0x6e, 0x33, 0xc8, 0xa0, 0x10)

namespace korvex::com {
namespace {

using testing::MallocSpy;

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
    return text;
}

std::vector<std::wstring> letters(std::size_t count) {
    std::vector<std::wstring> items;
    for (std::size_t i = 0; i < count; ++i) {
        items.push_back(std::wstring(1, static_cast<wchar_t>(L'a' + i)));
    }
    return items;
}

// Records whose copy fails for the handle `failingHandle`, as a string copy does when memory runs out.
struct RecordItems {
    struct Item {
        std::wstring name;
        DWORD handle;
    };
    using Out = TestRecord;
    static constexpr bool taskArray = true;
    static constexpr HRESULT missingCountError = E_POINTER;
    static inline DWORD failingHandle = 0;

    static HRESULT copy(const Item& item, TestRecord& out) noexcept {
        out.handle = item.handle;
        if (item.handle == failingHandle) {
            return E_OUTOFMEMORY;
        }
        return taskStringCopy(item.name, &out.name);
    }
    static void destroy(TestRecord& out) noexcept {
        CoTaskMemFree(out.name);
        out.name = nullptr;
    }
};
using RecordEnumerator = Enumerator<IEnumTestRecords, RecordItems>;

TEST(EnumeratorTest, ConcurrentNextHandsOutEveryItemExactlyOnce) {
    constexpr std::size_t total = 20000;
    std::vector<std::wstring> items;
    for (std::size_t i = 0; i < total; ++i) {
        items.push_back(std::to_wstring(i));
    }
    ComPtr<StringEnumerator> enumerator = make<StringEnumerator>(std::move(items));
    ASSERT_TRUE(enumerator);

    std::vector<std::vector<std::size_t>> seen(4);
    std::vector<std::thread> threads;
    for (auto& mine : seen) {
        threads.emplace_back([&mine, e = enumerator.Get()] {
            LPOLESTR text = nullptr;
            while (e->Next(1, &text, nullptr) == S_OK) {
                mine.push_back(std::stoul(text));
                CoTaskMemFree(text);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<std::size_t> all;
    for (const auto& mine : seen) {
        all.insert(all.end(), mine.begin(), mine.end());
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), total);
    for (std::size_t i = 0; i < total; ++i) {
        ASSERT_EQ(all[i], i);
    }
}

// Strings whose copy fails for one text, as it does when memory runs out.
struct FailingStringItems : StringItems {
    static inline std::wstring failing;
    static HRESULT copy(const std::wstring& item, LPOLESTR& out) noexcept {
        return item == failing ? E_OUTOFMEMORY : StringItems::copy(item, out);
    }
};

TEST(EnumeratorTest, CallerArrayNextHandsOutAllOrNothing) {
    MallocSpy& spy = MallocSpy::installed();
    const long liveBefore = spy.live();
    FailingStringItems::failing = L"c";
    {
        ComPtr<Enumerator<IEnumString, FailingStringItems>> enumerator =
            make<Enumerator<IEnumString, FailingStringItems>>(letters(4));
        ASSERT_TRUE(enumerator);
        LPOLESTR strings[4] = {};
        ULONG fetched = 99;
        const HRESULT hr = enumerator->Next(4, strings, &fetched);
        EXPECT_EQ(hr, E_OUTOFMEMORY) << hex(hr);
        EXPECT_EQ(fetched, 0u);
        EXPECT_EQ(strings[0], nullptr) << "copies made before the failure are taken back";
        EXPECT_EQ(spy.live(), liveBefore);

        ASSERT_EQ(enumerator->Next(2, strings, &fetched), S_OK);
        EXPECT_EQ(std::wstring(strings[0]) + strings[1], L"ab") << "the position stayed";
        CoTaskMemFree(strings[0]);
        CoTaskMemFree(strings[1]);
    }
    FailingStringItems::failing.clear();
    EXPECT_EQ(spy.live(), liveBefore);
}

struct RecordCase {
    const char* name;
    ULONG skip;
    ULONG celt;
    bool withCount;
    DWORD failingHandle;
    HRESULT expected;
    std::vector<DWORD> expectedHandles;  // empty: the array must be null
    ULONG nextAfter;                     // handle Next(1) gives afterwards, 0 for none
};

TEST(EnumeratorTest, TaskArrayNextHandsOutAllOrNothing) {
    const RecordCase cases[] = {
        {"two of three", 0, 2, true, 0, S_OK, {1, 2}, 3},
        {"more than remain", 1, 5, true, 0, S_FALSE, {2, 3}, 0},
        {"nothing remains: null array", 3, 2, true, 0, S_FALSE, {}, 0},
        {"zero requested: null array", 0, 0, true, 0, S_OK, {}, 1},
        {"one without count", 0, 1, false, 0, S_OK, {1}, 2},
        {"two without count", 0, 2, false, 0, E_POINTER, {}, 1},
        {"copy fails on the last: all freed, position kept", 0, 3, true, 3, E_OUTOFMEMORY, {}, 1},
        {"copy fails on the first", 1, 2, true, 2, E_OUTOFMEMORY, {}, 0 /* 2 fails again */},
    };

    MallocSpy& spy = MallocSpy::installed();
    for (const RecordCase& c : cases) {
        const long liveBefore = spy.live();
        RecordItems::failingHandle = c.failingHandle;
        {
            ComPtr<RecordEnumerator> enumerator =
                make<RecordEnumerator>(std::vector<RecordItems::Item>{{L"one", 1}, {L"two", 2}, {L"three", 3}});
            ASSERT_TRUE(enumerator) << c.name;
            ASSERT_EQ(enumerator->Skip(c.skip), S_OK) << c.name;

            TestRecord* records = reinterpret_cast<TestRecord*>(0x1234);
            ULONG fetched = 99;
            const HRESULT hr = enumerator->Next(c.celt, &records, c.withCount ? &fetched : nullptr);
            EXPECT_EQ(hr, c.expected) << c.name << ": got " << hex(hr) << ", expected " << hex(c.expected);
            if (c.withCount) {
                EXPECT_EQ(fetched, c.expectedHandles.size()) << c.name;
            }
            if (c.expectedHandles.empty()) {
                EXPECT_EQ(records, nullptr) << c.name;
            } else if (records != nullptr) {
                for (std::size_t i = 0; i < c.expectedHandles.size(); ++i) {
                    EXPECT_EQ(records[i].handle, c.expectedHandles[i]) << c.name << ", record " << i;
                    EXPECT_NE(records[i].name, nullptr) << c.name << ", record " << i;
                    CoTaskMemFree(records[i].name);
                }
                CoTaskMemFree(records);
            }

            if (c.nextAfter != 0) {
                TestRecord* after = nullptr;
                EXPECT_EQ(enumerator->Next(1, &after, nullptr), S_OK) << c.name;
                if (after != nullptr) {
                    EXPECT_EQ(after->handle, c.nextAfter) << c.name << ": position after Next";
                    CoTaskMemFree(after->name);
                    CoTaskMemFree(after);
                }
            }
        }
        EXPECT_EQ(spy.live(), liveBefore) << c.name << ": task memory left behind";
    }
    RecordItems::failingHandle = 0;
}

} // namespace
} // namespace korvex::com
