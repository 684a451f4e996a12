// The OPC server list object: which classes implement the component categories a client asks
// for, and their names. Both interfaces answer from the registry at the time of the call.
#pragma once

#include "com/com_object.h"
#include "opccomn.h"

namespace serverlist {

class CServerList final : public korvex::com::ComObject<CServerList, IOPCServerList2, IOPCServerList> {
public:
    // IOPCServerList2
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG implementedCount, CATID implemented[], ULONG requiredCount,
                                                      CATID required[], IOPCEnumGUID** classes) noexcept override;
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* progId, LPOLESTR* userType,
                                              LPOLESTR* versionIndependentProgId) noexcept override;
    // Both interfaces.
    HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) noexcept override;

    // IOPCServerList
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG implementedCount, CATID implemented[], ULONG requiredCount,
                                                      CATID required[], IEnumGUID** classes) noexcept override;
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* progId, LPOLESTR* userType) noexcept override;
};

}  // namespace serverlist
