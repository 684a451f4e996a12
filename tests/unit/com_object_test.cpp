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

class OutOfMemoryOnCreate final : public ComObject<OutOfMemoryOnCreate, ITestOther> {
public:
    OutOfMemoryOnCreate() { throw std::bad_alloc(); }
    int STDMETHODCALLTYPE OtherCall() override { return 0; }
};

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
