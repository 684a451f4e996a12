// What HKEY_CLASSES_ROOT says about the machine's COM classes, read in both registry views: the
// process's own first, then the other one, so that a 64-bit server list also finds the 32-bit
// servers (and the other way round). Where a class is registered in both, its own view's
// registration is the one that counts.
#pragma once

#include <comcat.h>
#include <objbase.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace serverlist {

// The classes that implement at least one of `anyOf` (no restriction when empty) and every one of
// `allOf`, by their "Implemented Categories" keys; own view first, each class once.
std::vector<CLSID> ClassesOfCategories(std::span<const CATID> anyOf, std::span<const CATID> allOf);

struct ClassDetails {
    std::wstring progId;
    std::wstring userType;                  // the class key's name; empty when it has none
    std::wstring versionIndependentProgId;  // the ProgID when the class names none
};

// None when the class is not registered or has no ProgID: a client could not name it.
std::optional<ClassDetails> FindClassDetails(REFCLSID clsid);

// The class of a ProgID (or of a version-independent ProgID through its CurVer); none when the
// name is registered nowhere.
std::optional<CLSID> FindClassOfProgId(const std::wstring& progId);

// The registry form, braces included.
std::wstring GuidText(REFGUID guid);

}  // namespace serverlist
