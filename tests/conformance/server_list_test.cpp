// The server browser's interfaces (IOPCServerList, IOPCServerList2, IOPCEnumGUID) through
// korvexps.dll: our server does not implement them, so a small browser object in this process is
// called from another apartment, which goes through the same proxy and stub as a call between
// processes. Every [in] value must reach the object and every string, array and enumerator it hands
// out must arrive intact (server-allocated [out] strings are where widl's proxies lose them).
// And the DLL registers every interface of our IDL with its own fixed proxy class.
#include "tests/support/hresult.h"
#include "tests/support/proxy_registration.h"

#include "com/com_object.h"
#include "com/com_ptr.h"
#include "opccomn.h"
#include "opcda.h"

#include <gtest/gtest.h>
#include <comcat.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

// The interfaces of our IDL, listed by idl_methods.py.
extern "C" {
extern const IID* const kIdlInterfaceIids[];
extern const char* const kIdlInterfaceNames[];
extern const unsigned kIdlInterfaceCount;
}

namespace korvex::test {
namespace {

using com::ComPtr;

constexpr GUID kFirst = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kSecond = {0x44444444, 0x5555, 0x6666, {8, 7, 6, 5, 4, 3, 2, 1}};
constexpr GUID kThird = {0x77777777, 0x8888, 0x9999, {9, 9, 9, 9, 9, 9, 9, 9}};
const wchar_t* const kProgId = L"Korvex.OPCServer.2";
const wchar_t* const kUserType = L"科沃斯 OPC 数据访问服务器 (Korvex OPC Data Access Server)";

LPOLESTR TaskCopy(const std::wstring& text) {
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy) wcscpy(copy, text.c_str());
    return copy;
}

class GuidEnumerator final : public com::ComObject<GuidEnumerator, IOPCEnumGUID, IEnumGUID, com::no_module_lock> {
public:
    explicit GuidEnumerator(std::vector<GUID> guids, ULONG position = 0) : guids_(std::move(guids)), next_(position) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, GUID* out, ULONG* fetched) override {
        ULONG n = 0;
        for (; n < count && next_ < guids_.size(); ++n) out[n] = guids_[next_++];
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const bool all = next_ + count <= guids_.size();
        next_ = all ? next_ + count : static_cast<ULONG>(guids_.size());
        return all ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IOPCEnumGUID** out) override {
        *out = com::make<GuidEnumerator>(guids_, next_).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumGUID** out) override {
        *out = com::make<GuidEnumerator>(guids_, next_).Detach();
        return S_OK;
    }

private:
    std::vector<GUID> guids_;
    ULONG next_;
};

// Answers that depend on what arrived: the classes are the implemented categories followed by the
// required ones, the details exist for kFirst only and the ProgID resolves only when exact.
class ServerBrowser final
    : public com::ComObject<ServerBrowser, IOPCServerList2, IOPCServerList, com::no_module_lock> {
public:
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG implemented, CATID* implementedIds, ULONG required,
                                                      CATID* requiredIds, IEnumGUID** out) override {
        *out = com::make<GuidEnumerator>(Classes(implemented, implementedIds, required, requiredIds)).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG implemented, CATID* implementedIds, ULONG required,
                                                      CATID* requiredIds, IOPCEnumGUID** out) override {
        *out = com::make<GuidEnumerator>(Classes(implemented, implementedIds, required, requiredIds)).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* progId, LPOLESTR* userType) override {
        if (!IsEqualCLSID(clsid, kFirst)) return REGDB_E_CLASSNOTREG;
        *progId = TaskCopy(kProgId);
        *userType = TaskCopy(kUserType);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* progId, LPOLESTR* userType,
                                              LPOLESTR* independentProgId) override {
        HRESULT hr = GetClassDetails(clsid, progId, userType);
        if (SUCCEEDED(hr)) *independentProgId = TaskCopy(L"Korvex.OPCServer");
        return hr;
    }
    HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) override {
        if (std::wstring(progId) != kProgId) return CO_E_CLASSSTRING;
        *clsid = kSecond;
        return S_OK;
    }

private:
    static std::vector<GUID> Classes(ULONG implemented, const CATID* implementedIds, ULONG required,
                                     const CATID* requiredIds) {
        std::vector<GUID> classes(implementedIds, implementedIds + implemented);
        classes.insert(classes.end(), requiredIds, requiredIds + required);
        return classes;
    }
};

std::vector<GUID> Drain(IOPCEnumGUID* guids, ULONG ask) {
    std::vector<GUID> all;
    GUID batch[4];
    ULONG fetched = 0;
    while (SUCCEEDED(guids->Next(ask, batch, &fetched)) && fetched > 0) all.insert(all.end(), batch, batch + fetched);
    return all;
}

bool Same(const std::vector<GUID>& a, const std::vector<GUID>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), IsEqualGUID);
}

std::wstring Take(LPOLESTR text) {
    std::wstring copy = text ? text : L"(null)";
    CoTaskMemFree(text);
    return copy;
}

void CallFromAnotherApartment(IStream* marshaled) {
    ASSERT_HR(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
        ComPtr<IOPCServerList2> list2;
        ASSERT_HR(CoGetInterfaceAndReleaseStream(marshaled, IID_IOPCServerList2,
                                                 reinterpret_cast<void**>(list2.ReleaseAndGetAddressOf())),
                  S_OK);
        ComPtr<IOPCServerList> list;
        ASSERT_HR(list2->QueryInterface(IID_IOPCServerList, reinterpret_cast<void**>(list.ReleaseAndGetAddressOf())),
                  S_OK);

        CATID implemented[] = {kFirst, kSecond};
        CATID required[] = {kThird};
        ComPtr<IOPCEnumGUID> guids;
        ASSERT_HR(list2->EnumClassesOfCategories(2, implemented, 1, required, guids.ReleaseAndGetAddressOf()), S_OK);
        EXPECT_TRUE(Same(Drain(guids.Get(), 2), {kFirst, kSecond, kThird})) << "the categories in, the classes out";
        EXPECT_HR(guids->Reset(), S_OK);
        EXPECT_HR(guids->Skip(1), S_OK);
        ComPtr<IOPCEnumGUID> clone;
        ASSERT_HR(guids->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
        EXPECT_TRUE(Same(Drain(clone.Get(), 4), {kSecond, kThird})) << "a clone continues where its source was";
        EXPECT_TRUE(Same(Drain(guids.Get(), 1), {kSecond, kThird})) << "and leaves the source where it was";
        EXPECT_HR(guids->Skip(1), S_FALSE);

        ComPtr<IEnumGUID> classic;
        ASSERT_HR(list->EnumClassesOfCategories(1, required, 0, nullptr, classic.ReleaseAndGetAddressOf()), S_OK);
        GUID one{};
        ULONG fetched = 0;
        EXPECT_HR(classic->Next(1, &one, &fetched), S_OK);
        EXPECT_TRUE(fetched == 1 && IsEqualGUID(one, kThird));

        LPOLESTR progId = nullptr, userType = nullptr, independent = nullptr;
        ASSERT_HR(list2->GetClassDetails(kFirst, &progId, &userType, &independent), S_OK);
        EXPECT_EQ(Take(progId), kProgId);
        EXPECT_EQ(Take(userType), kUserType);
        EXPECT_EQ(Take(independent), L"Korvex.OPCServer");
        ASSERT_HR(list->GetClassDetails(kFirst, &progId, &userType), S_OK);
        EXPECT_EQ(Take(progId), kProgId);
        EXPECT_EQ(Take(userType), kUserType);
        EXPECT_HR(list->GetClassDetails(kSecond, &progId, &userType), REGDB_E_CLASSNOTREG);

        CLSID clsid{};
        EXPECT_HR(list2->CLSIDFromProgID(kProgId, &clsid), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, kSecond));
        EXPECT_HR(list->CLSIDFromProgID(kProgId, &clsid), S_OK);
        EXPECT_HR(list->CLSIDFromProgID(L"Korvex.OPCServer.3", &clsid), CO_E_CLASSSTRING);
    }
    CoUninitialize();
}

TEST(ServerBrowserInterfaces, CrossTheProxyIntact) {
    ASSERT_HR(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    ASSERT_HR(RegisterProxyStub(), S_OK);
    ComPtr<IOPCServerList2> browser = com::make<ServerBrowser>();
    IStream* marshaled = nullptr;
    ASSERT_HR(CoMarshalInterThreadInterfaceInStream(IID_IOPCServerList2, browser.Get(), &marshaled), S_OK);
    std::thread client(CallFromAnotherApartment, marshaled);
    client.join();
    browser.Reset();
    CoUninitialize();
}

std::optional<std::wstring> RegistryDefault(const std::wstring& key) {
    wchar_t value[1024];
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(value);
}

// The proxy factory's class is fixed (proxy/dlldata.c): registrations of an older install keep working.
TEST(ProxyRegistration, EveryInterfaceNamesTheFixedProxyClass) {
    ASSERT_HR(RegisterProxyStub(), S_OK);
    const std::wstring proxyClass = L"{52D0DA83-4E5C-4386-9F48-AA69C5A56260}";
    for (unsigned i = 0; i < kIdlInterfaceCount; ++i) {
        wchar_t iid[39] = {};
        StringFromGUID2(*kIdlInterfaceIids[i], iid, 39);
        EXPECT_EQ(RegistryDefault(L"Interface\\" + std::wstring(iid) + L"\\ProxyStubClsid32"), proxyClass)
            << kIdlInterfaceNames[i];
    }
    const auto server = RegistryDefault(L"CLSID\\" + proxyClass + L"\\InProcServer32");
    ASSERT_TRUE(server.has_value()) << "the proxy class has no InProcServer32";
    EXPECT_TRUE(server->ends_with(L"\\korvexps.dll"));
}

}  // namespace
}  // namespace korvex::test
