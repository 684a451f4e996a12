// korvexps.dll registers every interface of our IDL with its own fixed proxy class. (What crosses
// the proxy is shown by the cross-process tests: tests/cases against the server program,
// server_list_test against the server list program.)
#include "tests/support/hresult.h"
#include "tests/support/proxy_registration.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <optional>
#include <string>

// The interfaces of our IDL, listed by idl_methods.py.
extern "C" {
extern const IID* const kIdlInterfaceIids[];
extern const char* const kIdlInterfaceNames[];
extern const unsigned kIdlInterfaceCount;
}

namespace korvex::test {
namespace {

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
