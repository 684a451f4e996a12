// Base of every COM class of the server: reference counting, QueryInterface and the module
// lock, generated from the interface list, so that a class holds only its own behaviour:
//
//     class COPCGroup final
//         : public ComObject<COPCGroup, IOPCGroupStateMgt2, also<IOPCGroupStateMgt, IOPCGroupStateMgt2>,
//                            IOPCSyncIO2, also<IOPCSyncIO, IOPCSyncIO2>, IOPCItemMgt> { ... };
//     ComPtr<COPCGroup> group = make<COPCGroup>(args...);
//
// List each interface once, the most derived one; a C++ class cannot tell which interfaces its
// interfaces derive from, so `also<Base, Via>` names every base IID the object must answer as well
// (through the Via interface's vtable, which begins with Base's). IUnknown is implicit and always
// answered through the first listed interface, so the object's identity never changes.
// `no_module_lock` keeps an object from holding the module lock (class factories, which live as
// long as their registration and must not keep the server up).
#pragma once

#include "com/com_ptr.h"
#include "com/module_lock.h"

#include <objbase.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace korvex::com {

template <class Base, class Via>
struct also {};

struct no_module_lock {};

namespace detail {

template <class... Ts>
struct TypeList {};

template <class... Lists>
struct Concat {
    using type = TypeList<>;
};
template <class... A>
struct Concat<TypeList<A...>> {
    using type = TypeList<A...>;
};
template <class... A, class... B, class... Rest>
struct Concat<TypeList<A...>, TypeList<B...>, Rest...> : Concat<TypeList<A..., B...>, Rest...> {};

// What one entry of the list contributes to QueryInterface: the IID answered (Base) and the
// vtable that answers it (Via). Markers contribute nothing.
template <class Entry>
struct ListEntry {
    static constexpr bool isInterface = true;
    static constexpr bool answers = true;
    using Base = Entry;
    using Via = Entry;
};
template <class B, class V>
struct ListEntry<also<B, V>> {
    static constexpr bool isInterface = false;
    static constexpr bool answers = true;
    using Base = B;
    using Via = V;
};
template <>
struct ListEntry<no_module_lock> {
    static constexpr bool isInterface = false;
    static constexpr bool answers = false;
};

template <class... Entries>
using InterfacesOf = typename Concat<
    std::conditional_t<ListEntry<Entries>::isInterface, TypeList<Entries>, TypeList<>>...>::type;

template <class List>
struct InheritAll;
template <class... Interfaces>
struct InheritAll<TypeList<Interfaces...>> : Interfaces... {};

template <class List>
struct FirstOf;
template <class First, class... Rest>
struct FirstOf<TypeList<First, Rest...>> {
    using type = First;
};

template <class T, class List>
struct CountBasesOf;
template <class T, class... Ts>
struct CountBasesOf<T, TypeList<Ts...>> {
    static constexpr std::size_t value = (std::size_t{std::is_base_of_v<T, Ts>} + ... + 0);
};

template <class T, class List>
struct Contains;
template <class T, class... Ts>
struct Contains<T, TypeList<Ts...>> : std::bool_constant<(std::is_same_v<T, Ts> || ...)> {};

template <class List>
struct NoneDerivesAnother;
template <class... Is>
struct NoneDerivesAnother<TypeList<Is...>> {
    // Each interface is a base only of itself: a listed base would give the object two vtables
    // for it (and a listed IUnknown an ambiguous identity).
    static constexpr bool value = ((CountBasesOf<Is, TypeList<Is...>>::value == 1) && ...);
};

template <class Entry, class List>
struct AlsoIsValid : std::true_type {};
template <class B, class V, class List>
struct AlsoIsValid<also<B, V>, List>
    : std::bool_constant<Contains<V, List>::value && std::is_base_of_v<B, V> && !std::is_same_v<B, V> &&
                         !std::is_same_v<B, IUnknown>> {};

} // namespace detail

template <class Derived, class... Entries>
class ComObject : public detail::InheritAll<detail::InterfacesOf<Entries...>> {
    using Interfaces = detail::InterfacesOf<Entries...>;
    using First = typename detail::FirstOf<Interfaces>::type;

    static_assert(std::is_base_of_v<IUnknown, First>, "ComObject needs at least one COM interface");
    static_assert(detail::NoneDerivesAnother<Interfaces>::value,
                  "list each interface once and only the most derived one; answer its bases with also<Base, Via>");
    static_assert((detail::AlsoIsValid<Entries, Interfaces>::value && ...),
                  "also<Base, Via>: Via must be a listed interface deriving from Base (IUnknown is implicit)");

    static constexpr bool holdsModuleLock = !(std::is_same_v<Entries, no_module_lock> || ...);

public:
    using KorvexComObject = ComObject;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
        if (out == nullptr) {
            return E_POINTER;
        }
        void* found = nullptr;
        if (iid == __uuidof(IUnknown)) {
            found = identity();
        } else {
            for (const InterfaceEntry& entry : interfaceTable()) {
                if (iid == entry.iid()) {
                    found = entry.cast(this);
                    break;
                }
            }
        }
        *out = found;
        if (found == nullptr) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() noexcept override {
        return refCount_.fetch_add(1, std::memory_order_relaxed) + 1;
    }

    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG remaining = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (remaining == 0) {
            // A reference held through finalRelease, so that an AddRef/Release pair made while
            // tearing down cannot reach zero a second time.
            refCount_.store(1, std::memory_order_relaxed);
            finalRelease();
            delete this;
        } else {
            releasedTo(remaining);
        }
        return remaining;
    }

    // References held right now; only meaningful where no other thread can add one meanwhile.
    ULONG refCount() const noexcept { return refCount_.load(std::memory_order_acquire); }

    // The object's IUnknown, without a new reference.
    IUnknown* identity() noexcept { return static_cast<IUnknown*>(static_cast<First*>(this)); }

    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

protected:
    // Created with one reference, which make() adopts.
    ComObject() noexcept {
        if constexpr (holdsModuleLock) {
            ModuleLock::lock();
        }
    }

    virtual ~ComObject() {
        if constexpr (holdsModuleLock) {
            ModuleLock::unlock();
        }
    }

    // Runs when the last reference goes, before the destructor, with the object still whole.
    virtual void finalRelease() noexcept {}

    // Runs after a Release that left references: an owner that keeps the last one can let go.
    virtual void releasedTo(ULONG /*remaining*/) noexcept {}

private:
    struct InterfaceEntry {
        const IID& (*iid)() noexcept;
        void* (*cast)(ComObject*) noexcept;
    };

    template <class I>
    static const IID& iidOf() noexcept {
        return __uuidof(I);
    }

    template <class Base, class Via>
    static void* castTo(ComObject* self) noexcept {
        return static_cast<Base*>(static_cast<Via*>(self));
    }

    static constexpr std::size_t entryCount = (std::size_t{detail::ListEntry<Entries>::answers} + ...);

    template <class Entry>
    static constexpr void addEntry(std::array<InterfaceEntry, entryCount>& table, std::size_t& next) {
        if constexpr (detail::ListEntry<Entry>::answers) {
            using Base = typename detail::ListEntry<Entry>::Base;
            using Via = typename detail::ListEntry<Entry>::Via;
            table[next++] = InterfaceEntry{&iidOf<Base>, &castTo<Base, Via>};
        }
    }

    static const std::array<InterfaceEntry, entryCount>& interfaceTable() noexcept {
        static constexpr std::array<InterfaceEntry, entryCount> table = [] {
            std::array<InterfaceEntry, entryCount> built{};
            std::size_t next = 0;
            (addEntry<Entries>(built, next), ...);
            return built;
        }();
        return table;
    }

    std::atomic<ULONG> refCount_{1};
};

template <class T>
concept ComClass = requires { typename T::KorvexComObject; } && std::is_base_of_v<typename T::KorvexComObject, T>;

// Creates a COM object and hands out its first reference; null when memory is exhausted.
template <ComClass T, class... Args>
ComPtr<T> make(Args&&... args) {
    ComPtr<T> object;
    try {
        object.Attach(new T(std::forward<Args>(args)...));
    } catch (const std::bad_alloc&) {
    }
    return object;
}

} // namespace korvex::com
