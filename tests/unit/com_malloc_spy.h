// Counts the task allocator's live blocks, through the system's own IMallocSpy hook, so a test can
// see that a failure path freed everything it allocated. Installed once per test program and never
// revoked (the system refuses to revoke a spy while blocks it saw are still live).
#pragma once

#include <objbase.h>

#include <atomic>

namespace korvex::com::testing {

class MallocSpy final : public IMallocSpy {
public:
    static MallocSpy& installed() {
        static MallocSpy* spy = [] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            static MallocSpy instance;
            CoRegisterMallocSpy(&instance);
            return &instance;
        }();
        return *spy;
    }

    long live() const { return allocations_.load() - frees_.load(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMallocSpy)) {
            *out = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override {
        if (block != nullptr) {
            ++allocations_;
        }
        return block;
    }
    void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
        if (block != nullptr) {
            ++frees_;
        }
        return block;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** newBlock, BOOL) override {
        *newBlock = block;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
    void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

private:
    MallocSpy() = default;
    std::atomic<long> allocations_{0};
    std::atomic<long> frees_{0};
};

} // namespace korvex::com::testing
