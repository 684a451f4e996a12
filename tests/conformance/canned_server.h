// The conformance server's server object: every method of every server-side interface of our
// IDL, answering with canned results that depend on what the call received, so that the test
// sees both directions of each parameter. Not an OPC server: just enough behaviour to give
// each parameter a value that can be checked.
#pragma once

#include "canned_group.h"
#include "connection_point.h"

#include "com/com_object.h"
#include "com/variant.h"
#include "opccomn.h"
#include "opcda.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace conformance {

class CannedServer final
    : public korvex::com::ComObject<CannedServer, IOPCServer, IOPCServerPublicGroups, IOPCBrowseServerAddressSpace,
                                    IOPCItemProperties, IOPCBrowse, IOPCItemIO, IOPCCommon, IOPCServerList,
                                    IOPCServerList2, IConnectionPointContainer>,
      public GroupOwner {
public:
    CannedServer();

    // GroupOwner
    bool nameInUse(const std::wstring& name, const CannedGroup* except) override;
    HRESULT adopt(korvex::com::ComPtr<CannedGroup> group) override;
    OPCHANDLE newGroupHandle() override;

    // IOPCServer
    HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                       OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                       DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                       REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
    HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
    HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) override;

    // IOPCServerPublicGroups
    HRESULT STDMETHODCALLTYPE GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) override;

    // IOPCBrowseServerAddressSpace
    HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override;
    HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                               VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                               LPENUMSTRING* ppIEnumString) override;
    HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
    HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override;

    // IOPCItemProperties
    HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                                       LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) override;
    HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                                VARIANT** ppvData, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                            LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override;

    // IOPCBrowse
    HRESULT STDMETHODCALLTYPE GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs, BOOL bReturnPropertyValues,
                                            DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                            OPCITEMPROPERTIES** ppItemProperties) override;
    HRESULT STDMETHODCALLTYPE Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint, DWORD dwMaxElementsReturned,
                                     OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter,
                                     LPWSTR szVendorFilter, BOOL bReturnAllProperties, BOOL bReturnPropertyValues,
                                     DWORD dwPropertyCount, DWORD* pdwPropertyIDs, BOOL* pbMoreElements,
                                     DWORD* pdwCount, OPCBROWSEELEMENT** ppBrowseElements) override;

    // IOPCItemIO
    HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues,
                                   WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT,
                                       HRESULT** ppErrors) override;

    // IOPCCommon
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;

    // IOPCServerList, IOPCServerList2 (CLSIDFromProgID is the same in both)
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                                      CATID rgcatidReq[], IEnumGUID** ppenumClsid) override;
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                                      CATID rgcatidReq[], IOPCEnumGUID** ppenumClsid) override;
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType) override;
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType,
                                              LPOLESTR* ppszVerIndProgID) override;
    HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) override;

    // IConnectionPointContainer: IOPCShutdown
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

private:
    void finalRelease() noexcept override;
    korvex::com::ComPtr<CannedGroup> findGroup(bool isPublic, const wchar_t* name, OPCHANDLE handle);
    HRESULT removeGroup(bool isPublic, OPCHANDLE handle, BOOL force);
    LCID effectiveLocale(LCID locale);

    struct WrittenValue {
        korvex::com::Variant value;
        WORD quality = 0;
        FILETIME timestamp{};
    };

    std::mutex mutex_;
    std::vector<korvex::com::ComPtr<CannedGroup>> groups_;  // in creation order
    OPCHANDLE lastGroupHandle_ = 0x50;
    LCID locale_ = 0x409;
    std::wstring clientName_;
    std::wstring browsePosition_;  // the current branch's item ID; "" is the root
    std::map<std::wstring, WrittenValue> written_;  // by IOPCItemIO::WriteVQT
    korvex::com::ComPtr<SingleConnectionPoint<IOPCShutdown>> shutdownPoint_;
};

}  // namespace conformance
