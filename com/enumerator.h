// COM enumerator over a snapshot: Next, Skip, Reset, Clone.
//
// `Enumerator<IEnumXxx, Items>` implements any interface of the IEnumXxx shape. `Items` says
// what the snapshot holds and how one element is handed out:
//
//     struct Items {
//         using Item = ...;    // kept in the snapshot
//         using Out = ...;     // what Next hands out (a C type: a pointer or a structure)
//         static HRESULT copy(const Item& item, Out& out) noexcept;   // hand out one copy
//         static void destroy(Out& out) noexcept;  // free a copy, a partial one, or a zero-filled Out
//         // Optional:
//         static constexpr bool taskArray = true;  // Next(ULONG, Out**, ULONG*): Next allocates the
//                                                  // array with the task allocator (null when empty)
//         static constexpr HRESULT missingCountError = E_POINTER;  // default E_INVALIDARG
//     };
//
// Without `taskArray`, Next is the standard Next(ULONG celt, Out* rgelt, ULONG* pceltFetched)
// into the caller's array. Next returns S_OK when it handed out celt elements and S_FALSE when
// fewer remained; it hands out all or nothing: when a copy fails, the copies made so far are
// freed, the position stays and the copy's error comes back. The fetched count may be null only
// when celt is at most 1 (else `missingCountError`). Skip returns S_FALSE when it runs past the
// end. Clones share the snapshot, each with its own position.
#pragma once

#include "com/com_object.h"
#include "com/task_memory.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

namespace korvex::com {

namespace detail {

template <class Items>
constexpr bool nextAllocatesArray() {
    if constexpr (requires { Items::taskArray; }) {
        return Items::taskArray;
    } else {
        return false;
    }
}

template <class Items>
constexpr HRESULT missingCountError() {
    if constexpr (requires { Items::missingCountError; }) {
        return Items::missingCountError;
    } else {
        return E_INVALIDARG;
    }
}

template <class Items>
struct DestroyOut {
    void operator()(typename Items::Out& out) const noexcept { Items::destroy(out); }
};

} // namespace detail

template <class Interface, class Items>
class Enumerator final : public ComObject<Enumerator<Interface, Items>, Interface> {
public:
    using Item = typename Items::Item;
    using Out = typename Items::Out;
    using Snapshot = std::shared_ptr<const std::vector<Item>>;

    static_assert(std::is_trivial_v<Out>, "Out is a C type handed to the client");
    static constexpr bool taskArray = detail::nextAllocatesArray<Items>();
    using NextArray = std::conditional_t<taskArray, Out**, Out*>;

    explicit Enumerator(std::vector<Item> items)
        : snapshot_(std::make_shared<const std::vector<Item>>(std::move(items))) {}

    Enumerator(Snapshot snapshot, std::size_t position) noexcept
        : snapshot_(std::move(snapshot)), position_(position) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, NextArray items, ULONG* fetched) noexcept override {
        if (fetched != nullptr) {
            *fetched = 0;
        }
        if (items == nullptr) {
            return E_POINTER;
        }
        if constexpr (taskArray) {
            *items = nullptr;
        }
        if (celt > 1 && fetched == nullptr) {
            return detail::missingCountError<Items>();
        }

        std::lock_guard lock(positionLock_);
        const std::vector<Item>& all = *snapshot_;
        const std::size_t count = std::min<std::size_t>(celt, all.size() - position_);
        const HRESULT hr = handOut(all.data() + position_, count, items);
        if (FAILED(hr)) {
            return hr;
        }
        position_ += count;
        if (fetched != nullptr) {
            *fetched = static_cast<ULONG>(count);
        }
        return count == celt ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) noexcept override {
        std::lock_guard lock(positionLock_);
        const std::size_t skipped = std::min<std::size_t>(celt, snapshot_->size() - position_);
        position_ += skipped;
        return skipped == celt ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Reset() noexcept override {
        std::lock_guard lock(positionLock_);
        position_ = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(Interface** out) noexcept override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        std::size_t position = 0;
        {
            std::lock_guard lock(positionLock_);
            position = position_;
        }
        ComPtr<Enumerator> clone = make<Enumerator>(snapshot_, position);
        if (!clone) {
            return E_OUTOFMEMORY;
        }
        *out = clone.Detach();
        return S_OK;
    }

private:
    // Into the caller's array.
    static HRESULT handOut(const Item* from, std::size_t count, Out* to) noexcept {
        for (std::size_t i = 0; i < count; ++i) {
            to[i] = Out{};
            const HRESULT hr = Items::copy(from[i], to[i]);
            if (FAILED(hr)) {
                for (std::size_t made = 0; made <= i; ++made) {
                    Items::destroy(to[made]);
                }
                return hr;
            }
        }
        return S_OK;
    }

    // Into an array allocated here and handed to the caller.
    static HRESULT handOut(const Item* from, std::size_t count, Out** to) noexcept {
        TaskArray<Out, detail::DestroyOut<Items>> array;
        if (const HRESULT hr = array.allocate(count); FAILED(hr)) {
            return hr;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (const HRESULT hr = Items::copy(from[i], array[i]); FAILED(hr)) {
                return hr;
            }
        }
        *to = array.release();
        return S_OK;
    }

    const Snapshot snapshot_;
    std::mutex positionLock_;
    std::size_t position_ = 0;
};

} // namespace korvex::com
