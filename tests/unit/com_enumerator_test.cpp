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

enum class Op { Next, NextWithoutCount, NextNullArray, Skip, Reset };

struct Step {
    Op op;
    ULONG count;
    HRESULT expected;
    const wchar_t* expectedItems;  // the strings handed out, concatenated (one letter each)
};

struct EnumeratorCase {
    const char* name;
    std::size_t size;
    std::vector<Step> steps;
};

// Runs one step on a string enumerator; returns what Next handed out, concatenated.
HRESULT runStep(IEnumString* enumerator, const Step& step, std::wstring& handedOut) {
    handedOut.clear();
    switch (step.op) {
    case Op::Skip:
        return enumerator->Skip(step.count);
    case Op::Reset:
        return enumerator->Reset();
    case Op::NextNullArray: {
        ULONG fetched = 99;
        const HRESULT hr = enumerator->Next(step.count, nullptr, &fetched);
        EXPECT_EQ(fetched, 0u);
        return hr;
    }
    case Op::Next:
    case Op::NextWithoutCount: {
        std::vector<LPOLESTR> strings(step.count + 1, nullptr);
        ULONG fetched = 99;
        const HRESULT hr = enumerator->Next(step.count, strings.data(), step.op == Op::Next ? &fetched : nullptr);
        const ULONG count = step.op == Op::Next ? fetched : (hr == S_OK ? step.count : 0);
        for (ULONG i = 0; i < count; ++i) {
            handedOut += strings[i];
            CoTaskMemFree(strings[i]);
        }
        return hr;
    }
    }
    return E_UNEXPECTED;
}

TEST(EnumeratorTest, NextSkipResetFollowTheEnumeratorRules) {
    const std::vector<EnumeratorCase> cases = {
        {"next one", 3, {{Op::Next, 1, S_OK, L"a"}, {Op::Next, 1, S_OK, L"b"}}},
        {"next exactly all", 3, {{Op::Next, 3, S_OK, L"abc"}, {Op::Next, 1, S_FALSE, L""}}},
        {"next more than remain", 3, {{Op::Next, 5, S_FALSE, L"abc"}}},
        {"next zero", 3, {{Op::Next, 0, S_OK, L""}, {Op::Next, 1, S_OK, L"a"}}},
        {"next after partial skip", 3, {{Op::Skip, 2, S_OK, L""}, {Op::Next, 2, S_FALSE, L"c"}}},
        {"skip to the end exactly", 3, {{Op::Skip, 3, S_OK, L""}, {Op::Next, 1, S_FALSE, L""}}},
        {"skip past the end", 3, {{Op::Skip, 4, S_FALSE, L""}, {Op::Next, 1, S_FALSE, L""},
                                  {Op::Skip, 0, S_OK, L""}, {Op::Skip, 1, S_FALSE, L""}}},
        {"reset after the end", 3, {{Op::Next, 3, S_OK, L"abc"}, {Op::Reset, 0, S_OK, L""},
                                    {Op::Next, 2, S_OK, L"ab"}}},
        {"one without count", 3, {{Op::NextWithoutCount, 1, S_OK, L"a"}, {Op::Next, 1, S_OK, L"b"}}},
        {"two without count are refused and do not move", 3,
         {{Op::NextWithoutCount, 2, E_INVALIDARG, L""}, {Op::Next, 1, S_OK, L"a"}}},
        {"null array", 3, {{Op::NextNullArray, 1, E_POINTER, L""}, {Op::Next, 1, S_OK, L"a"}}},
        {"empty snapshot", 0, {{Op::Next, 1, S_FALSE, L""}, {Op::Skip, 1, S_FALSE, L""},
                               {Op::Next, 0, S_OK, L""}, {Op::Reset, 0, S_OK, L""}}},
    };

    MallocSpy& spy = MallocSpy::installed();
    for (const EnumeratorCase& c : cases) {
        const long liveBefore = spy.live();
        {
            ComPtr<StringEnumerator> enumerator = make<StringEnumerator>(letters(c.size));
            ASSERT_TRUE(enumerator) << c.name;
            for (std::size_t i = 0; i < c.steps.size(); ++i) {
                const Step& step = c.steps[i];
                std::wstring handedOut;
                const HRESULT hr = runStep(enumerator.Get(), step, handedOut);
                EXPECT_EQ(hr, step.expected)
                    << c.name << ", step " << i << ": got " << hex(hr) << ", expected " << hex(step.expected);
                EXPECT_EQ(handedOut, step.expectedItems) << c.name << ", step " << i;
            }
        }
        EXPECT_EQ(spy.live(), liveBefore) << c.name << ": task memory left behind";
    }
}

TEST(EnumeratorTest, CloneContinuesFromTheSamePositionIndependently) {
    ComPtr<IEnumString> original = make<StringEnumerator>(letters(4));
    ASSERT_TRUE(original);
    ASSERT_EQ(original->Skip(1), S_OK);

    ComPtr<IEnumString> clone;
    ASSERT_EQ(original->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_TRUE(clone);
    EXPECT_NE(clone, original);

    std::wstring out;
    EXPECT_EQ(runStep(original.Get(), {Op::Next, 2, S_OK, nullptr}, out), S_OK);
    EXPECT_EQ(out, L"bc");
    original = nullptr;  // the clone keeps the snapshot alive

    EXPECT_EQ(runStep(clone.Get(), {Op::Next, 1, S_OK, nullptr}, out), S_OK);
    EXPECT_EQ(out, L"b");
    ComPtr<IEnumString> second;
    ASSERT_EQ(clone->Clone(second.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(clone->Reset(), S_OK);
    EXPECT_EQ(runStep(second.Get(), {Op::Next, 5, S_FALSE, nullptr}, out), S_FALSE);
    EXPECT_EQ(out, L"cd");
    EXPECT_EQ(runStep(clone.Get(), {Op::Next, 1, S_OK, nullptr}, out), S_OK);
    EXPECT_EQ(out, L"a");

    EXPECT_EQ(clone->Clone(nullptr), E_POINTER);
}

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

        std::wstring out;
        EXPECT_EQ(runStep(enumerator.Get(), {Op::Next, 2, S_OK, nullptr}, out), S_OK);
        EXPECT_EQ(out, L"ab") << "the position stayed";
    }
    FailingStringItems::failing.clear();
    EXPECT_EQ(spy.live(), liveBefore);
}

// A plain object that shows its reference count.
class Sink final : public ComObject<Sink, IPersist> {
public:
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
    ULONG references() {
        AddRef();
        return Release();
    }
};

TEST(EnumeratorTest, InterfaceEnumeratorsHoldAndHandOutReferences) {
    ComPtr<Sink> first = make<Sink>();
    ComPtr<Sink> second = make<Sink>();
    ComPtr<IEnumUnknown> unknowns =
        make<UnknownEnumerator>(std::vector<ComPtr<IUnknown>>{first->identity(), second->identity()});
    ComPtr<IEnumConnections> connections =
        make<ConnectionEnumerator>(std::vector<Connection>{{first->identity(), 7}, {second->identity(), 9}});
    ASSERT_TRUE(unknowns && connections);
    EXPECT_EQ(first->references(), 3u) << "each snapshot holds one reference";

    IUnknown* handed[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(unknowns->Next(3, handed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(handed[0], first->identity());
    EXPECT_EQ(handed[1], second->identity());
    EXPECT_EQ(first->references(), 4u);
    handed[0]->Release();
    handed[1]->Release();

    CONNECTDATA data[2] = {};
    EXPECT_EQ(connections->Next(2, data, &fetched), S_OK);
    EXPECT_EQ(data[0].dwCookie, 7u);
    EXPECT_EQ(data[1].dwCookie, 9u);
    EXPECT_EQ(data[1].pUnk, second->identity());
    EXPECT_EQ(second->references(), 4u);
    data[0].pUnk->Release();
    data[1].pUnk->Release();

    unknowns = nullptr;
    connections = nullptr;
    EXPECT_EQ(first->references(), 1u);
    EXPECT_EQ(second->references(), 1u);
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
