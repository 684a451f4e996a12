#include "com/com_object.h"
#include "com/com_ptr.h"

#include <gtest/gtest.h>

#include <objidl.h>

#include <utility>

// The reference-count rules that made us write our own pointer instead of mingw's WRL one.
namespace korvex::com {
namespace {

class Counted final : public ComObject<Counted, IPersist> {
public:
    explicit Counted(bool* destroyed) : destroyed_(destroyed) {}
    ~Counted() override { *destroyed_ = true; }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }

    ULONG references() {
        AddRef();
        return Release();
    }

private:
    bool* destroyed_;
};

TEST(ComPtrTest, AttachAdoptsAndDetachHandsOverWithoutCounting) {
    bool destroyed = false;
    Counted* raw = make<Counted>(&destroyed).Detach();
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->references(), 1u);
    {
        ComPtr<IPersist> adopted;
        adopted.Attach(raw);
        EXPECT_EQ(raw->references(), 1u);
        ComPtr<IPersist> copied(raw);
        EXPECT_EQ(raw->references(), 2u);
    }
    EXPECT_TRUE(destroyed) << "the adopted reference was the last one";
}

TEST(ComPtrTest, MovingEmptiesTheSourceAndCopyingCounts) {
    bool destroyed = false;
    ComPtr<Counted> first = make<Counted>(&destroyed);
    ComPtr<Counted> second = first;
    EXPECT_EQ(first->references(), 2u);

    ComPtr<IPersist> moved = std::move(second);
    EXPECT_FALSE(second);
    EXPECT_EQ(first->references(), 2u);

    ComPtr<IPersist> assigned;
    assigned = std::move(moved);
    EXPECT_FALSE(moved);
    EXPECT_EQ(first->references(), 2u);

    assigned = first;  // converting copy over a live pointer to the same object
    EXPECT_EQ(first->references(), 2u);
    assigned = nullptr;
    first = nullptr;
    EXPECT_TRUE(destroyed);
}

TEST(ComPtrTest, EqualityComparesTheObjects) {
    bool destroyedA = false;
    bool destroyedB = false;
    ComPtr<Counted> a = make<Counted>(&destroyedA);
    ComPtr<Counted> b = make<Counted>(&destroyedB);
    ComPtr<IPersist> alsoA = a;
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(alsoA == a);
    EXPECT_FALSE(a == nullptr);
    EXPECT_TRUE(ComPtr<IPersist>() == nullptr);
}

TEST(ComPtrTest, AsAndCopyToFailCleanly) {
    bool destroyed = false;
    ComPtr<Counted> object = make<Counted>(&destroyed);

    ComPtr<IPersistStream> stream;
    HRESULT hr = object.As(&stream);
    EXPECT_EQ(hr, E_NOINTERFACE);
    EXPECT_FALSE(stream);

    ComPtr<IPersist> persist;
    EXPECT_EQ(object.As(&persist), S_OK);
    EXPECT_EQ(object->references(), 2u);

    ComPtr<IPersist> empty;
    void* out = reinterpret_cast<void*>(0x1234);
    hr = empty.CopyTo(__uuidof(IPersist), &out);
    EXPECT_EQ(hr, E_POINTER);
    EXPECT_EQ(out, nullptr);
}

} // namespace
} // namespace korvex::com
