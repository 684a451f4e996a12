#include "com/com_object.h"

#include <gtest/gtest.h>

#include <objidl.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

// Interfaces declared the way widl's headers declare them: a chain of three, as the OPC
// interfaces of later versions extend the earlier ones, and an unrelated one.
MIDL_INTERFACE("5d7c1a40-0c55-4e8a-9f1b-2a6e33c8a001")
ITestBase : public IUnknown {
    virtual int STDMETHODCALLTYPE BaseCall() = 0;
};
__CRT_UUID_DECL(ITestBase, 0x5d7c1a40, 0x0c55, 0x4e8a, 0x9f, 0x1b, 0x2a, 0x6e, 0x33, 0xc8, 0xa0, 0x01)

MIDL_INTERFACE("5d7c1a40-0c55-4e8a-9f1b-2a6e33c8a002")
ITestMiddle : public ITestBase {
    virtual int STDMETHODCALLTYPE MiddleCall() = 0;
};
__CRT_UUID_DECL(ITestMiddle, 0x5d7c1a40, 0x0c55, 0x4e8a, 0x9f, 0x1b, 0x2a, 0x6e, 0x33, 0xc8, 0xa0, 0x02)

MIDL_INTERFACE("5d7c1a40-0c55-4e8a-9f1b-2a6e33c8a003")
ITestTop : public ITestMiddle {
    virtual int STDMETHODCALLTYPE TopCall() = 0;
};
__CRT_UUID_DECL(ITestTop, 0x5d7c1a40, 0x0c55, 0x4e8a, 0x9f, 0x1b, 0x2a, 0x6e, 0x33, 0xc8, 0xa0, 0x03)

MIDL_INTERFACE("5d7c1a40-0c55-4e8a-9f1b-2a6e33c8a004")
ITestOther : public IUnknown {
    virtual int STDMETHODCALLTYPE OtherCall() = 0;
};
__CRT_UUID_DECL(ITestOther, 0x5d7c1a40, 0x0c55, 0x4e8a, 0x9f, 0x1b, 0x2a, 0x6e, 0x33, 0xc8, 0xa0, 0x04)

namespace korvex::com {
namespace {

struct Lifetime {
    int finalReleases = 0;
    int destructions = 0;
    long moduleLocksAtFinalRelease = -1;
};

class Sample final : public ComObject<Sample, ITestOther, ITestTop, also<ITestMiddle, ITestTop>,
                                      also<ITestBase, ITestTop>, IPersistStream, also<IPersist, IPersistStream>> {
public:
    explicit Sample(Lifetime* lifetime = nullptr) : lifetime_(lifetime) {}
    ~Sample() override {
        if (lifetime_ != nullptr) {
            ++lifetime_->destructions;
        }
    }

    int STDMETHODCALLTYPE BaseCall() override { return 1; }
    int STDMETHODCALLTYPE MiddleCall() override { return 2; }
    int STDMETHODCALLTYPE TopCall() override { return 3; }
    int STDMETHODCALLTYPE OtherCall() override { return 4; }

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
        *clsid = __uuidof(ITestOther);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(IStream*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }

private:
    void finalRelease() noexcept override {
        if (lifetime_ == nullptr) {
            return;
        }
        ++lifetime_->finalReleases;
        lifetime_->moduleLocksAtFinalRelease = ModuleLock::count();
        // Teardown code that hands itself around must not start a second destruction.
        AddRef();
        Release();
    }

    Lifetime* lifetime_;
};

class Factory final : public ComObject<Factory, ITestOther, no_module_lock> {
public:
    int STDMETHODCALLTYPE OtherCall() override { return 5; }
};

class OutOfMemoryOnCreate final : public ComObject<OutOfMemoryOnCreate, ITestOther> {
public:
    OutOfMemoryOnCreate() { throw std::bad_alloc(); }
    int STDMETHODCALLTYPE OtherCall() override { return 0; }
};

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
    return text;
}

struct QueryCase {
    const char* name;
    const IID& iid;
    HRESULT expected;
    void* (*expectedPointer)(Sample*);  // the vtable that must answer
    int (*call)(void*);                 // a method reached through it, or null
    int expectedCall;
};

TEST(ComObjectTest, QueryInterfaceAnswersListedAndBaseInterfacesThroughTheRightVtable) {
    const QueryCase cases[] = {
        {"IUnknown is the first interface", __uuidof(IUnknown), S_OK,
         [](Sample* s) -> void* { return static_cast<ITestOther*>(s); }, nullptr, 0},
        {"listed ITestOther", __uuidof(ITestOther), S_OK,
         [](Sample* s) -> void* { return static_cast<ITestOther*>(s); },
         [](void* p) { return static_cast<ITestOther*>(p)->OtherCall(); }, 4},
        {"listed ITestTop", __uuidof(ITestTop), S_OK,
         [](Sample* s) -> void* { return static_cast<ITestTop*>(s); },
         [](void* p) { return static_cast<ITestTop*>(p)->TopCall(); }, 3},
        {"base ITestMiddle via ITestTop", __uuidof(ITestMiddle), S_OK,
         [](Sample* s) -> void* { return static_cast<ITestMiddle*>(static_cast<ITestTop*>(s)); },
         [](void* p) { return static_cast<ITestMiddle*>(p)->MiddleCall(); }, 2},
        {"grand-base ITestBase via ITestTop", __uuidof(ITestBase), S_OK,
         [](Sample* s) -> void* { return static_cast<ITestBase*>(static_cast<ITestTop*>(s)); },
         [](void* p) { return static_cast<ITestBase*>(p)->BaseCall(); }, 1},
        {"SDK IPersistStream", __uuidof(IPersistStream), S_OK,
         [](Sample* s) -> void* { return static_cast<IPersistStream*>(s); },
         [](void* p) { return static_cast<int>(static_cast<IPersistStream*>(p)->IsDirty()); }, S_FALSE},
        {"SDK base IPersist via IPersistStream", __uuidof(IPersist), S_OK,
         [](Sample* s) -> void* { return static_cast<IPersist*>(static_cast<IPersistStream*>(s)); },
         [](void* p) {
             CLSID clsid{};
             static_cast<IPersist*>(p)->GetClassID(&clsid);
             return clsid == __uuidof(ITestOther) ? 6 : 0;
         },
         6},
        {"not implemented IDispatch", __uuidof(IDispatch), E_NOINTERFACE, nullptr, nullptr, 0},
        {"not implemented IPersistFile (shares the IPersist base)", __uuidof(IPersistFile), E_NOINTERFACE,
         nullptr, nullptr, 0},
        {"not implemented IStream", __uuidof(IStream), E_NOINTERFACE, nullptr, nullptr, 0},
    };

    ComPtr<Sample> sample = make<Sample>();
    ASSERT_TRUE(sample);
    for (const QueryCase& c : cases) {
        void* out = reinterpret_cast<void*>(0x1234);  // must be overwritten, also on failure
        const HRESULT hr = sample->QueryInterface(c.iid, &out);
        EXPECT_EQ(hr, c.expected) << c.name << ": got " << hex(hr) << ", expected " << hex(c.expected);
        if (c.expectedPointer == nullptr) {
            EXPECT_EQ(out, nullptr) << c.name;
            continue;
        }
        EXPECT_EQ(out, c.expectedPointer(sample.Get())) << c.name;
        if (c.call != nullptr && out != nullptr) {
            EXPECT_EQ(c.call(out), c.expectedCall) << c.name;
        }
        if (out != nullptr) {
            static_cast<IUnknown*>(out)->Release();
        }
    }
}

TEST(ComObjectTest, IdentityIsTheSameFromEveryInterface) {
    ComPtr<Sample> sample = make<Sample>();
    ASSERT_TRUE(sample);
    IUnknown* const from[] = {static_cast<ITestOther*>(sample.Get()), static_cast<ITestTop*>(sample.Get()),
                              static_cast<IPersistStream*>(sample.Get())};
    for (IUnknown* start : from) {
        ComPtr<IUnknown> unknown;
        ASSERT_EQ(start->QueryInterface(IID_PPV_ARGS(unknown.ReleaseAndGetAddressOf())), S_OK);
        EXPECT_EQ(unknown.Get(), sample->identity());
    }
}

TEST(ComObjectTest, NullOutPointerIsRefused) {
    ComPtr<Sample> sample = make<Sample>();
    ASSERT_TRUE(sample);
    const HRESULT hr = sample->QueryInterface(__uuidof(ITestTop), nullptr);
    EXPECT_EQ(hr, E_POINTER) << hex(hr);
}

TEST(ComObjectTest, LastReleaseRunsFinalReleaseOnceThenDestroysAndUnlocksTheModule) {
    Lifetime lifetime;
    const long locksBefore = ModuleLock::count();
    Sample* raw = nullptr;
    {
        ComPtr<Sample> sample = make<Sample>(&lifetime);
        ASSERT_TRUE(sample);
        raw = sample.Get();
        EXPECT_EQ(ModuleLock::count(), locksBefore + 1);

        ITestTop* top = nullptr;
        ASSERT_EQ(sample->QueryInterface(IID_PPV_ARGS(&top)), S_OK);
        EXPECT_EQ(raw->AddRef(), 3u);  // make's reference, the query's, this one
        EXPECT_EQ(top->Release(), 2u);
        EXPECT_EQ(top->Release(), 1u);
        EXPECT_EQ(lifetime.destructions, 0);
    }
    EXPECT_EQ(lifetime.finalReleases, 1);
    EXPECT_EQ(lifetime.destructions, 1);
    EXPECT_EQ(lifetime.moduleLocksAtFinalRelease, locksBefore + 1) << "finalRelease runs on the whole object";
    EXPECT_EQ(ModuleLock::count(), locksBefore);
}

std::atomic<int> zeroCallbacks{0};

TEST(ComObjectTest, ModuleLockCallbackRunsWhenTheLastLockGoes) {
    ASSERT_EQ(ModuleLock::count(), 0) << "no other object may be alive in this test program";
    zeroCallbacks = 0;
    const ModuleLock::ZeroCallback previous = ModuleLock::onZero([]() noexcept { ++zeroCallbacks; });

    ComPtr<Sample> first = make<Sample>();
    ComPtr<Sample> second = make<Sample>();
    ComPtr<Factory> factory = make<Factory>();
    EXPECT_EQ(ModuleLock::count(), 2) << "objects marked no_module_lock do not hold the module";
    first = nullptr;
    EXPECT_EQ(zeroCallbacks, 0);
    ModuleLock::lock();  // a client's LockServer(TRUE)
    second = nullptr;
    EXPECT_EQ(zeroCallbacks, 0);
    EXPECT_EQ(ModuleLock::unlock(), 0);
    EXPECT_EQ(zeroCallbacks, 1);
    factory = nullptr;
    EXPECT_EQ(zeroCallbacks, 1);

    ModuleLock::onZero(previous);
}

TEST(ComObjectTest, MakeGivesNullWhenConstructionRunsOutOfMemory) {
    const long locksBefore = ModuleLock::count();
    ComPtr<OutOfMemoryOnCreate> object = make<OutOfMemoryOnCreate>();
    EXPECT_FALSE(object);
    EXPECT_EQ(ModuleLock::count(), locksBefore) << "the half-built object gave its module lock back";
}

TEST(ComObjectTest, ReferenceCountIsExactUnderConcurrentAddRefRelease) {
    Lifetime lifetime;
    ComPtr<Sample> sample = make<Sample>(&lifetime);
    ASSERT_TRUE(sample);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([object = sample.Get()] {
            for (int i = 0; i < 50000; ++i) {
                object->AddRef();
                object->Release();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(lifetime.destructions, 0);
    EXPECT_EQ(sample->AddRef(), 2u);
    EXPECT_EQ(sample->Release(), 1u);
}

} // namespace
} // namespace korvex::com
