#include "tools/hostile/enumerators.h"

#include "com/com_ptr.h"

#include <string>
#include <type_traits>
#include <vector>

namespace hostile {

namespace {

void Free(LPOLESTR& text) { CoTaskMemFree(text); }
void Free(IUnknown*& object) {
    if (object) object->Release();
}
void Free(IConnectionPoint*& point) {
    if (point) point->Release();
}
void Free(CONNECTDATA& connection) {
    if (connection.pUnk) connection.pUnk->Release();
}

// The interface's name, and its methods' names as the call log reports them.
template <class Enumerator>
constexpr const char* kInterfaceName = nullptr;
template <>
constexpr const char* kInterfaceName<IEnumString> = "IEnumString";
template <>
constexpr const char* kInterfaceName<IEnumUnknown> = "IEnumUnknown";
template <>
constexpr const char* kInterfaceName<IEnumConnectionPoints> = "IEnumConnectionPoints";
template <>
constexpr const char* kInterfaceName<IEnumConnections> = "IEnumConnections";

template <class Enumerator>
struct Names {
    static inline const std::string next = std::string(kInterfaceName<Enumerator>) + "::Next";
    static inline const std::string skip = std::string(kInterfaceName<Enumerator>) + "::Skip";
    static inline const std::string reset = std::string(kInterfaceName<Enumerator>) + "::Reset";
    static inline const std::string clone = std::string(kInterfaceName<Enumerator>) + "::Clone";
};

ULONG Celt(RandomArguments& random) {
    switch (random.between(0, 5)) {
    case 0: return 0;
    case 1: return 1;
    case 2: return random.chance(0.05) ? 100000 : 1000;
    default: return random.between(2, 10);
    }
}

// Next, Skip, Reset, Clone of a standard enumerator whose elements are `Element`.
template <class Enumerator, class Element>
void Exercise(CallLog& log, RandomArguments& random, Enumerator* enumerator) {
    using N = Names<Enumerator>;
    for (int round = static_cast<int>(random.between(1, 3)); round > 0; --round) {
        switch (random.between(0, 3)) {
        case 0: {
            // Wine's own proxy of IEnumConnections::Next hands back more connections than asked
            // for (4 of 1, and once a garbage result), writing past the caller's array: that one
            // is asked for none. Its server side is the same enumerator as the others'.
            const ULONG celt = std::is_same_v<Enumerator, IEnumConnections> ? 0 : Celt(random);
            std::vector<Element> elements(celt > 0 ? celt : 1, Element{});
            ULONG fetched = 0;
            const HRESULT hr = log.call(N::next.c_str(), celt == 0 ? Codes{S_OK, S_FALSE, E_INVALIDARG} : Codes{S_OK, S_FALSE},
                                        "celt " + std::to_string(celt),
                                        [&] { return enumerator->Next(celt, elements.data(), &fetched); });
            if (SUCCEEDED(hr)) {
                if (fetched > celt || (celt > 0 && (hr == S_OK) != (fetched == celt)))
                    log.finding(N::next.c_str(), "returned " + Hex(hr) + " with " + std::to_string(fetched) + " of " +
                                             std::to_string(celt) + " elements");
                for (ULONG i = 0; i < fetched && i < elements.size(); ++i) Free(elements[i]);
            }
            break;
        }
        case 1: {
            const ULONG celt = Celt(random) * (random.chance(0.1) ? 40000u : 1u);
            log.call(N::skip.c_str(), {S_OK, S_FALSE}, "celt " + std::to_string(celt), [&] { return enumerator->Skip(celt); });
            break;
        }
        case 2: log.call(N::reset.c_str(), {S_OK}, "", [&] { return enumerator->Reset(); }); break;
        default: {
            korvex::com::ComPtr<Enumerator> clone;
            if (SUCCEEDED(log.call(N::clone.c_str(), {S_OK}, "", [&] { return enumerator->Clone(clone.ReleaseAndGetAddressOf()); })) &&
                clone && random.chance(0.5))
                Exercise<Enumerator, Element>(log, random, clone.Get());
            break;
        }
        }
    }
}

}  // namespace

void ExerciseEnumerator(CallLog& log, RandomArguments& random, IEnumString* enumerator) {
    Exercise<IEnumString, LPOLESTR>(log, random, enumerator);
}
void ExerciseEnumerator(CallLog& log, RandomArguments& random, IEnumUnknown* enumerator) {
    Exercise<IEnumUnknown, IUnknown*>(log, random, enumerator);
}
void ExerciseEnumerator(CallLog& log, RandomArguments& random, IEnumConnectionPoints* enumerator) {
    Exercise<IEnumConnectionPoints, IConnectionPoint*>(log, random, enumerator);
}
void ExerciseEnumerator(CallLog& log, RandomArguments& random, IEnumConnections* enumerator) {
    Exercise<IEnumConnections, CONNECTDATA>(log, random, enumerator);
}

void ExerciseEnumerator(CallLog& log, RandomArguments& random, IEnumOPCItemAttributes* enumerator) {
    for (int round = static_cast<int>(random.between(1, 3)); round > 0; --round) {
        switch (random.between(0, 3)) {
        case 0: {
            const ULONG celt = Celt(random);
            OPCITEMATTRIBUTES* items = nullptr;
            ULONG fetched = 0;
            const HRESULT hr = log.call("IEnumOPCItemAttributes::Next",
                                        celt == 0 ? Codes{S_OK, S_FALSE, E_INVALIDARG} : Codes{S_OK, S_FALSE},
                                        "celt " + std::to_string(celt),
                                        [&] { return enumerator->Next(celt, &items, &fetched); });
            if (SUCCEEDED(hr) && (fetched > celt || (celt > 0 && (hr == S_OK) != (fetched == celt))))
                log.finding("IEnumOPCItemAttributes::Next", "returned " + Hex(hr) + " with " +
                                                                std::to_string(fetched) + " of " + std::to_string(celt));
            for (ULONG i = 0; items && i < fetched; ++i) {
                CoTaskMemFree(items[i].szAccessPath);
                CoTaskMemFree(items[i].szItemID);
                CoTaskMemFree(items[i].pBlob);
                VariantClear(&items[i].vEUInfo);
            }
            CoTaskMemFree(items);
            break;
        }
        case 1: {
            const ULONG celt = Celt(random);
            log.call("IEnumOPCItemAttributes::Skip", {S_OK, S_FALSE}, "celt " + std::to_string(celt),
                     [&] { return enumerator->Skip(celt); });
            break;
        }
        case 2: log.call("IEnumOPCItemAttributes::Reset", {S_OK}, "", [&] { return enumerator->Reset(); }); break;
        default: {
            korvex::com::ComPtr<IEnumOPCItemAttributes> clone;
            log.call("IEnumOPCItemAttributes::Clone", {S_OK}, "",
                     [&] { return enumerator->Clone(clone.ReleaseAndGetAddressOf()); });
            break;
        }
        }
    }
}

}  // namespace hostile
