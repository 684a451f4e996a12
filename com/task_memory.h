// Memory handed to clients through the COM task allocator.
//
// A call that hands out arrays builds them in TaskArrays: every early return frees them, with
// whatever their elements own (strings inside records, VARIANTs), and success release()s them to
// the client, who frees them with CoTaskMemFree. A count of 0 allocates nothing: the array is
// null, which is also what the client receives for it.
#pragma once

#include <objbase.h>
#include <oleauto.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

namespace korvex::com {

struct TaskFree {
    void operator()(void* memory) const noexcept { CoTaskMemFree(memory); }
};

template <class T>
using TaskPtr = std::unique_ptr<T, TaskFree>;
using TaskString = TaskPtr<wchar_t>;

// Element cleanup policies: called on every element of an array that is not handed out, and
// must accept a zero-filled element.
struct NoCleanup {
    template <class T>
    void operator()(T&) const noexcept {}
};

struct ClearVariant {
    void operator()(VARIANT& value) const noexcept { VariantClear(&value); }
};

struct FreeTaskString {
    void operator()(LPWSTR& text) const noexcept {
        CoTaskMemFree(text);
        text = nullptr;
    }
};

template <class T, class Cleanup = NoCleanup>
class TaskArray {
    static_assert(std::is_trivial_v<T>, "TaskArray holds C structures that the client frees as raw memory");

public:
    TaskArray() noexcept = default;
    explicit TaskArray(Cleanup cleanup) noexcept : cleanup_(std::move(cleanup)) {}

    TaskArray(TaskArray&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
          cleanup_(std::move(other.cleanup_)) {}

    TaskArray& operator=(TaskArray&& other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            cleanup_ = std::move(other.cleanup_);
        }
        return *this;
    }

    TaskArray(const TaskArray&) = delete;
    TaskArray& operator=(const TaskArray&) = delete;

    ~TaskArray() { reset(); }

    // Replaces the contents with `count` zero-filled elements. E_OUTOFMEMORY leaves it empty.
    HRESULT allocate(std::size_t count) noexcept {
        reset();
        if (count == 0) {
            return S_OK;
        }
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
            return E_OUTOFMEMORY;
        }
        void* memory = CoTaskMemAlloc(count * sizeof(T));
        if (memory == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::memset(memory, 0, count * sizeof(T));
        data_ = static_cast<T*>(memory);
        size_ = count;
        return S_OK;
    }

    // Hands the array and everything its elements own to the caller.
    [[nodiscard]] T* release() noexcept {
        size_ = 0;
        return std::exchange(data_, nullptr);
    }

    void reset() noexcept {
        for (std::size_t i = 0; i < size_; ++i) {
            cleanup_(data_[i]);
        }
        CoTaskMemFree(data_);
        data_ = nullptr;
        size_ = 0;
    }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    T& operator[](std::size_t index) noexcept { return data_[index]; }
    const T& operator[](std::size_t index) const noexcept { return data_[index]; }
    std::span<T> items() noexcept { return {data_, size_}; }
    std::span<const T> items() const noexcept { return {data_, size_}; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size_; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
    [[no_unique_address]] Cleanup cleanup_{};
};

// Per-item result codes of a call over an item array.
using ErrorArray = TaskArray<HRESULT>;

// The call's own result for per-item codes: S_FALSE when any item failed, else S_OK.
inline HRESULT itemsResult(std::span<const HRESULT> errors) noexcept {
    for (HRESULT error : errors) {
        if (FAILED(error)) {
            return S_FALSE;
        }
    }
    return S_OK;
}

// Task-allocated, zero-terminated copy of `text`; null when memory is exhausted.
inline TaskString taskStringCopy(std::wstring_view text) noexcept {
    if (text.size() >= std::numeric_limits<std::size_t>::max() / sizeof(wchar_t)) {
        return nullptr;
    }
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        std::wmemcpy(copy, text.data(), text.size());
        copy[text.size()] = L'\0';
    }
    return TaskString(copy);
}

// The same for an [out] string: E_POINTER, or E_OUTOFMEMORY with *out null.
inline HRESULT taskStringCopy(std::wstring_view text, LPWSTR* out) noexcept {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = taskStringCopy(text).release();
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

} // namespace korvex::com
