// Operations on the address space through the server object: IOPCBrowseServerAddressSpace,
// IOPCItemProperties, IOPCBrowse, and IOPCItemIO (reads and writes by item ID).
#include "tools/hostile/enumerators.h"
#include "tools/hostile/session.h"

#include "opcerror.h"

namespace hostile {

namespace {

std::string N(unsigned long long value) { return std::to_string(value); }

const Codes kConversionCodes = {DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, DISP_E_BADVARTYPE};

Codes With(Codes codes, const Codes& more) {
    codes.insert(codes.end(), more.begin(), more.end());
    return codes;
}

// The last part of an item ID, as GetItemID and ChangeBrowsePosition(DOWN) take it.
std::wstring LastPart(const std::wstring& id) {
    const std::size_t dot = id.find_last_of(L'.');
    return dot == std::wstring::npos ? id : id.substr(dot + 1);
}

std::vector<DWORD> PropertyIds(RandomArguments& random, DWORD count) {
    std::vector<DWORD> ids(count > 0 ? count : 1);
    for (DWORD& id : ids) id = random.propertyId();
    return ids;
}

void FreeProperties(OPCITEMPROPERTIES& properties) {
    for (DWORD p = 0; properties.pItemProperties && p < properties.dwNumProperties; ++p) {
        OPCITEMPROPERTY& property = properties.pItemProperties[p];
        CoTaskMemFree(property.szItemID);
        CoTaskMemFree(property.szDescription);
        VariantClear(&property.vValue);
    }
    CoTaskMemFree(properties.pItemProperties);
}

}  // namespace

void Session::QueryOrganization() {
    IOPCBrowseServerAddressSpace* browse = Server<IOPCBrowseServerAddressSpace>(IID_IOPCBrowseServerAddressSpace);
    OPCNAMESPACETYPE type{};
    if (SUCCEEDED(log_.call("IOPCBrowseServerAddressSpace::QueryOrganization", {S_OK}, "",
                            [&] { return browse->QueryOrganization(&type); })) &&
        type != OPC_NS_HIERARCHIAL)
        log_.finding("IOPCBrowseServerAddressSpace::QueryOrganization", "gave " + N(type));
}

void Session::ChangeBrowsePosition() {
    IOPCBrowseServerAddressSpace* browse = Server<IOPCBrowseServerAddressSpace>(IID_IOPCBrowseServerAddressSpace);
    const auto direction = static_cast<OPCBROWSEDIRECTION>(random_.enumValue(OPC_BROWSE_UP, 3));
    std::wstring target = random_.itemId(knownItems_);
    if (direction == OPC_BROWSE_DOWN && random_.chance(0.6)) target = LastPart(target);
    log_.call("IOPCBrowseServerAddressSpace::ChangeBrowsePosition", {S_OK, E_FAIL},
              "direction " + N(direction) + ", " + Describe(target),
              [&] { return browse->ChangeBrowsePosition(direction, target.c_str()); });
}

void Session::BrowseOPCItemIDs() {
    IOPCBrowseServerAddressSpace* browse = Server<IOPCBrowseServerAddressSpace>(IID_IOPCBrowseServerAddressSpace);
    const DWORD type = random_.enumValue(OPC_BRANCH, 3);
    const std::wstring filter = random_.filter();
    const VARTYPE vt = random_.chance(0.6) ? VARTYPE{VT_EMPTY} : random_.varType();
    const DWORD rights = random_.chance(0.6) ? 0 : random_.chance(0.7) ? random_.between(1, 3) : random_.any32();
    const bool known = type >= OPC_BRANCH && type <= OPC_FLAT;
    ComPtr<IEnumString> strings;
    const HRESULT hr = log_.call(
        "IOPCBrowseServerAddressSpace::BrowseOPCItemIDs", known ? Codes{S_OK, S_FALSE} : Codes{S_OK, S_FALSE, E_INVALIDARG},
        "type " + N(type) + ", filter " + Describe(filter) + ", vt " + N(vt) + ", rights " + N(rights),
        [&] { return browse->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(type), filter.c_str(), vt, rights,
                                              strings.ReleaseAndGetAddressOf()); });
    if (SUCCEEDED(hr) && strings) ExerciseEnumerator(log_, random_, strings.Get());
}

void Session::GetItemID() {
    IOPCBrowseServerAddressSpace* browse = Server<IOPCBrowseServerAddressSpace>(IID_IOPCBrowseServerAddressSpace);
    std::wstring name = random_.itemId(knownItems_);
    if (random_.chance(0.5)) name = LastPart(name);
    LPWSTR id = nullptr;
    log_.call("IOPCBrowseServerAddressSpace::GetItemID", {S_OK, E_INVALIDARG}, Describe(name),
              [&] { return browse->GetItemID(name.data(), &id); });
    CoTaskMemFree(id);
}

void Session::BrowseAccessPaths() {
    IOPCBrowseServerAddressSpace* browse = Server<IOPCBrowseServerAddressSpace>(IID_IOPCBrowseServerAddressSpace);
    const std::wstring id = random_.itemId(knownItems_);
    ComPtr<IEnumString> paths;
    log_.call("IOPCBrowseServerAddressSpace::BrowseAccessPaths", {E_NOTIMPL}, Describe(id),
              [&] { return browse->BrowseAccessPaths(id.c_str(), paths.ReleaseAndGetAddressOf()); });
}

void Session::QueryAvailableProperties() {
    IOPCItemProperties* properties = Server<IOPCItemProperties>(IID_IOPCItemProperties);
    std::wstring id = random_.itemId(knownItems_);
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    const HRESULT hr = log_.call(
        "IOPCItemProperties::QueryAvailableProperties",
        id.empty() ? Codes{E_INVALIDARG} : Codes{S_OK, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, E_FAIL}, Describe(id),
        [&] { return properties->QueryAvailableProperties(id.data(), &count, &ids, &descriptions, &types); });
    for (DWORD i = 0; SUCCEEDED(hr) && descriptions && i < count; ++i) CoTaskMemFree(descriptions[i]);
    CoTaskMemFree(ids);
    CoTaskMemFree(descriptions);
    CoTaskMemFree(types);
}

void Session::GetItemProperties() {
    IOPCItemProperties* properties = Server<IOPCItemProperties>(IID_IOPCItemProperties);
    std::wstring id = random_.itemId(knownItems_);
    const DWORD count = random_.count();
    std::vector<DWORD> ids = PropertyIds(random_, count);
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    const std::string args = Describe(id) + ", " + N(count) + " properties";
    const HRESULT hr = log_.call(
        "IOPCItemProperties::GetItemProperties",
        count == 0 || id.empty() ? Codes{E_INVALIDARG}
                                 : Codes{S_OK, S_FALSE, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, E_FAIL},
        args, [&] { return properties->GetItemProperties(id.data(), count, ids.data(), &values, &errors); });
    log_.checkItems("IOPCItemProperties::GetItemProperties", hr, errors, count,
                    With({S_OK, OPC_E_INVALID_PID}, kConversionCodes), args);
    for (DWORD i = 0; SUCCEEDED(hr) && values && i < count; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
}

void Session::LookupItemIDs() {
    IOPCItemProperties* properties = Server<IOPCItemProperties>(IID_IOPCItemProperties);
    std::wstring id = random_.itemId(knownItems_);
    const DWORD count = random_.count();
    std::vector<DWORD> ids = PropertyIds(random_, count);
    LPWSTR* newIds = nullptr;
    HRESULT* errors = nullptr;
    const std::string args = Describe(id) + ", " + N(count) + " properties";
    const HRESULT hr = log_.call(
        "IOPCItemProperties::LookupItemIDs",
        count == 0 || id.empty() ? Codes{E_INVALIDARG}
                                 : Codes{S_OK, S_FALSE, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, E_FAIL},
        args, [&] { return properties->LookupItemIDs(id.data(), count, ids.data(), &newIds, &errors); });
    log_.checkItems("IOPCItemProperties::LookupItemIDs", hr, errors, count, {S_OK, OPC_E_INVALID_PID}, args);
    for (DWORD i = 0; SUCCEEDED(hr) && newIds && i < count; ++i) CoTaskMemFree(newIds[i]);
    CoTaskMemFree(newIds);
    CoTaskMemFree(errors);
}

void Session::GetProperties() {
    IOPCBrowse* browse = Server<IOPCBrowse>(IID_IOPCBrowse);
    const DWORD count = random_.count();
    std::vector<std::wstring> ids = ItemIds(count);
    std::vector<LPWSTR> pointers(count > 0 ? count : 1, const_cast<LPWSTR>(L""));
    for (DWORD i = 0; i < count; ++i) pointers[i] = ids[i].data();
    // 100,000 items with all their properties is some 80 MB to send back, which Wine's transport
    // takes half a minute for: a huge call asks for one property, so that what comes back stays
    // small while what goes in is huge.
    const DWORD propertyCount = random_.huge() ? 1 : random_.chance(0.5) ? 0 : random_.between(1, 12);
    std::vector<DWORD> propertyIds = PropertyIds(random_, propertyCount);
    OPCITEMPROPERTIES* records = nullptr;
    const std::string args = N(count) + " items, " + N(propertyCount) + " properties" +
                             (count > 0 ? ", first " + Describe(ids[0]) : "");
    const HRESULT hr = log_.call("IOPCBrowse::GetProperties", count == 0 ? Codes{E_INVALIDARG} : Codes{S_OK, S_FALSE, E_FAIL},
                                 args, [&] {
                                     return browse->GetProperties(count, pointers.data(), random_.chance(0.5),
                                                                  propertyCount, propertyIds.data(), &records);
                                 });
    if (SUCCEEDED(hr) && records) {
        std::vector<HRESULT> errors(count);
        for (DWORD i = 0; i < count; ++i) {
            errors[i] = records[i].hrErrorID;
            FreeProperties(records[i]);
        }
        log_.checkItems("IOPCBrowse::GetProperties", hr, errors.data(), count,
                        // A branch has no properties: its record fails with E_FAIL, the others stand.
                        {S_OK, S_FALSE, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, E_FAIL}, args);
    }
    CoTaskMemFree(records);
}

void Session::Browse() {
    IOPCBrowse* browse = Server<IOPCBrowse>(IID_IOPCBrowse);
    std::wstring id = random_.chance(0.3) ? L"" : random_.itemId(knownItems_);
    if (random_.chance(0.4)) id = id.substr(0, id.find_last_of(L'.') == std::wstring::npos ? 0 : id.find_last_of(L'.'));
    static std::wstring lastContinuation;
    LPWSTR continuation = nullptr;
    if (random_.chance(0.3)) {
        const std::wstring text = !lastContinuation.empty() && random_.chance(0.6) ? lastContinuation : random_.itemId(knownItems_);
        continuation = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
        if (continuation) std::copy(text.c_str(), text.c_str() + text.size() + 1, continuation);
    }
    const DWORD max = random_.chance(0.5) ? 0 : random_.chance(0.8) ? random_.between(1, 5) : random_.any32();
    const DWORD filter = random_.enumValue(OPC_BROWSE_FILTER_ALL, 3);
    std::wstring nameFilter = random_.filter(), vendorFilter = random_.chance(0.8) ? L"" : random_.filter();
    const DWORD propertyCount = random_.chance(0.6) ? 0 : random_.between(1, 10);
    std::vector<DWORD> propertyIds = PropertyIds(random_, propertyCount);
    BOOL more = FALSE;
    DWORD count = 0;
    OPCBROWSEELEMENT* elements = nullptr;
    const bool knownFilter = filter >= OPC_BROWSE_FILTER_ALL && filter <= OPC_BROWSE_FILTER_ITEMS;
    Codes allowed{S_OK, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, OPC_E_INVALIDCONTINUATIONPOINT, E_FAIL};
    if (!knownFilter) allowed.push_back(E_INVALIDARG);
    const HRESULT hr = log_.call(
        "IOPCBrowse::Browse", allowed,
        Describe(id) + ", max " + N(max) + ", filter " + N(filter) + ", name filter " + Describe(nameFilter) +
            (continuation ? ", continuation " + Describe(continuation) : ""),
        [&] {
            return browse->Browse(id.data(), &continuation, max, static_cast<OPCBROWSEFILTER>(filter), nameFilter.data(),
                                  vendorFilter.data(), random_.chance(0.5), random_.chance(0.5), propertyCount,
                                  propertyIds.data(), &more, &count, &elements);
        });
    if (SUCCEEDED(hr)) {
        if (max > 0 && count > max) log_.finding("IOPCBrowse::Browse", "gave " + N(count) + " elements for at most " + N(max));
        lastContinuation = continuation ? continuation : L"";
    }
    for (DWORD i = 0; elements && i < count; ++i) {
        CoTaskMemFree(elements[i].szName);
        CoTaskMemFree(elements[i].szItemID);
        FreeProperties(elements[i].ItemProperties);
    }
    CoTaskMemFree(elements);
    CoTaskMemFree(continuation);
}

void Session::ItemIORead() {
    IOPCItemIO* io = Server<IOPCItemIO>(IID_IOPCItemIO);
    const DWORD count = random_.count();
    std::vector<std::wstring> ids = ItemIds(count);
    std::vector<LPCWSTR> pointers(count > 0 ? count : 1, L"");
    std::vector<DWORD> ages(count > 0 ? count : 1);
    for (DWORD i = 0; i < count; ++i) {
        pointers[i] = ids[i].c_str();
        ages[i] = random_.maxAge();
    }
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* times = nullptr;
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " items" + (count > 0 ? ", first " + Describe(ids[0]) : "");
    const HRESULT hr = log_.call("IOPCItemIO::Read", ItemArrayCodes(count), args, [&] {
        return io->Read(count, pointers.data(), ages.data(), &values, &qualities, &times, &errors);
    });
    log_.checkItems("IOPCItemIO::Read", hr, errors, count,
                    With({S_OK, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, E_FAIL, OPC_E_BADRIGHTS}, kConversionCodes),
                    args);
    for (DWORD i = 0; values && i < count; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(qualities);
    CoTaskMemFree(times);
    CoTaskMemFree(errors);
}

void Session::ItemIOWriteVQT() {
    IOPCItemIO* io = Server<IOPCItemIO>(IID_IOPCItemIO);
    // Each write waits for the runtime: a few hundred at most.
    const DWORD count = std::min<DWORD>(random_.count(), 300);
    std::vector<std::wstring> ids = ItemIds(count);
    std::vector<LPCWSTR> pointers(count > 0 ? count : 1, L"");
    std::vector<OPCITEMVQT> vqts(count > 0 ? count : 1, OPCITEMVQT{});
    for (DWORD i = 0; i < count; ++i) {
        pointers[i] = ids[i].c_str();
        vqts[i] = random_.vqt();
    }
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " items" + (count > 0 ? ", first " + Describe(ids[0]) : "");
    const HRESULT hr = log_.call("IOPCItemIO::WriteVQT", ItemArrayCodes(count), args,
                                 [&] { return io->WriteVQT(count, pointers.data(), vqts.data(), &errors); });
    log_.checkItems("IOPCItemIO::WriteVQT", hr, errors, count,
                    {S_OK, OPC_S_CLAMP, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, E_FAIL, OPC_E_BADRIGHTS,
                     OPC_E_BADTYPE, OPC_E_RANGE},
                    args);
    for (DWORD i = 0; i < count; ++i) VariantClear(&vqts[i].vDataValue);
    CoTaskMemFree(errors);
}

}  // namespace hostile
