// Registers the build's OPC proxy/stub DLL in the test's Wine prefix, as regsvr32 would: calls
// between processes go through it.
#pragma once

#include <windows.h>

namespace korvex::test {

// S_OK once registered (later calls do nothing); else the failure of loading the DLL, finding
// DllRegisterServer or registering.
HRESULT RegisterProxyStub();

}  // namespace korvex::test
