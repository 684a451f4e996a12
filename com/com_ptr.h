// Owning interface pointer.
//
// Member names follow WRL so the usual idioms read the same, but mingw-w64's own
// Microsoft::WRL::ComPtr is not used: its Attach() AddRefs instead of adopting (a leak for
// every `Attach(raw)` written the WRL way), `a == b` compiles through its bool conversion and
// is true for any two non-null pointers, and move assignment leaves the source non-null.
#pragma once

#include <objbase.h>

#include <compare>
#include <cstddef>
#include <type_traits>
#include <utility>

namespace korvex::com {

template <class T>
class ComPtr {
public:
    using InterfaceType = T;

    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}

    // Takes a new reference on `raw`; use Attach() to adopt one that is already owned.
    template <class U>
        requires std::is_convertible_v<U*, T*>
    ComPtr(U* raw) noexcept : ptr_(raw) {
        addRef();
    }

    ComPtr(const ComPtr& other) noexcept : ptr_(other.ptr_) { addRef(); }

    template <class U>
        requires std::is_convertible_v<U*, T*>
    ComPtr(const ComPtr<U>& other) noexcept : ptr_(other.Get()) {
        addRef();
    }

    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}

    template <class U>
        requires std::is_convertible_v<U*, T*>
    ComPtr(ComPtr<U>&& other) noexcept : ptr_(other.Detach()) {}

    ~ComPtr() { Reset(); }

    ComPtr& operator=(ComPtr other) noexcept {
        Swap(other);
        return *this;
    }

    ComPtr& operator=(std::nullptr_t) noexcept {
        Reset();
        return *this;
    }

    T* Get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    T& operator*() const noexcept { return *ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    // For [out] parameters: the previous interface is released first.
    T** ReleaseAndGetAddressOf() noexcept {
        Reset();
        return &ptr_;
    }
    T* const* GetAddressOf() const noexcept { return &ptr_; }

    // Adopts a reference the caller owns (no AddRef).
    void Attach(T* raw) noexcept {
        if (ptr_ != raw) {
            Reset();
        }
        ptr_ = raw;
    }

    // Hands the reference to the caller (no Release).
    [[nodiscard]] T* Detach() noexcept { return std::exchange(ptr_, nullptr); }

    ULONG Reset() noexcept {
        T* old = std::exchange(ptr_, nullptr);
        return old != nullptr ? old->Release() : 0;
    }

    void Swap(ComPtr& other) noexcept { std::swap(ptr_, other.ptr_); }

    // Hands out a new reference; a null pointer hands out null.
    HRESULT CopyTo(T** out) const noexcept {
        if (out == nullptr) {
            return E_POINTER;
        }
        addRef();
        *out = ptr_;
        return S_OK;
    }

    HRESULT CopyTo(REFIID iid, void** out) const noexcept {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (ptr_ == nullptr) {
            *out = nullptr;
            return E_POINTER;
        }
        return ptr_->QueryInterface(iid, out);
    }

    template <class U>
    HRESULT As(ComPtr<U>* out) const noexcept {
        if (out == nullptr) {
            return E_POINTER;
        }
        return CopyTo(__uuidof(U), reinterpret_cast<void**>(out->ReleaseAndGetAddressOf()));
    }

private:
    void addRef() const noexcept {
        if (ptr_ != nullptr) {
            ptr_->AddRef();
        }
    }

    T* ptr_ = nullptr;
};

template <class T, class U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) noexcept {
    return a.Get() == b.Get();
}

template <class T>
bool operator==(const ComPtr<T>& a, std::nullptr_t) noexcept {
    return a.Get() == nullptr;
}

template <class T, class U>
bool operator==(const ComPtr<T>& a, const U* b) noexcept {
    return a.Get() == b;
}

} // namespace korvex::com
