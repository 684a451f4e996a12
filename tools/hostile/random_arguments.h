// Seeded random arguments of the kinds that break servers: counts of 0, 1 and many; handles that
// are valid, stale, another group's or made up; strings empty, very long or with characters an
// item ID cannot hold; odd variant types and values; rates, deadbands and locales at and beyond
// their limits. Only what a proxy lets through: strings and arrays are never null where the
// interface says they must not be.
#pragma once

#include "opcda.h"

#include <oaidl.h>
#include <windows.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace hostile {

class RandomArguments {
public:
    explicit RandomArguments(std::uint64_t seed) : engine_(seed) {}

    // True with probability `p`.
    bool chance(double p) { return std::bernoulli_distribution(p)(engine_); }
    // Uniform in [low, high].
    std::uint32_t between(std::uint32_t low, std::uint32_t high) {
        return std::uniform_int_distribution<std::uint32_t>(low, high)(engine_);
    }
    template <class T>
    const T& pick(const std::vector<T>& from) {
        return from[between(0, static_cast<std::uint32_t>(from.size() - 1))];
    }
    std::uint32_t any32() { return static_cast<std::uint32_t>(engine_()); }

    // 0, 1, a few, or some hundreds; `huge` (about 1 call in 1,500) 100,000.
    DWORD count();
    // An item ID: one of `known`, a variation of one, a branch, or junk (empty, very long, odd
    // characters).
    std::wstring itemId(const std::vector<std::wstring>& known);
    // A name for a group or a client, or a browse filter: the same kinds of strings.
    std::wstring name();
    std::wstring filter();
    // A handle from `valid` most of the time, else one of `foreign`, `stale`, 0, ~0 or any.
    OPCHANDLE handle(const std::vector<OPCHANDLE>& valid, const std::vector<OPCHANDLE>& foreign,
                     const std::vector<OPCHANDLE>& stale);
    VARTYPE varType();
    // A value to write (the caller clears it).
    VARIANT value();
    // A value with a quality and a time stamp, each given or not (the caller clears the value).
    OPCITEMVQT vqt();
    DWORD updateRate();
    FLOAT deadband();
    LCID locale();
    DWORD maxAge();
    DWORD propertyId();
    FILETIME time();
    // A member of an enumeration with `members` values from `first`, or a value outside it.
    DWORD enumValue(DWORD first, DWORD members);
    // An interface a client could ask for: those the objects have, and some they lack.
    IID iid();
    HRESULT errorCode();

    bool huge() const { return lastHuge_; }

private:
    std::wstring junk();
    std::mt19937_64 engine_;
    bool lastHuge_ = false;
};

// A short description of a string argument for reports: its length and start.
std::string Describe(const std::wstring& text);

}  // namespace hostile
