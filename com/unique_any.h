// Owners of Windows handles, registry keys and mapped views: each closes what it holds when it goes,
// so that no function closes them by hand on every early return.
//
//     korvex::com::UniqueHkey key;
//     if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
#pragma once

#include <windows.h>

#include <utility>

namespace korvex::com {

// Holds a `T` whose null value means "nothing" and gives it to `Close` once.
template <class T, auto Close>
class UniqueAny {
public:
    UniqueAny() = default;
    explicit UniqueAny(T value) noexcept : value_(value) {}
    ~UniqueAny() { reset(); }
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != T{}; }

    // Closes what it holds and takes `value`.
    void reset(T value = T{}) noexcept {
        if (value_ != T{}) Close(value_);
        value_ = value;
    }
    T release() noexcept { return std::exchange(value_, T{}); }
    // For functions that hand out what they open through an out-parameter.
    T* put() noexcept {
        reset();
        return &value_;
    }

private:
    T value_{};
};

using UniqueHandle = UniqueAny<HANDLE, &::CloseHandle>;  // not for INVALID_HANDLE_VALUE results
using UniqueHkey = UniqueAny<HKEY, &::RegCloseKey>;
using UniqueMappedView = UniqueAny<void*, &::UnmapViewOfFile>;

}  // namespace korvex::com
