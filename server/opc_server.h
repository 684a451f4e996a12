// The object a client receives when it connects: one per activation, counted as one client. It owns
// the client's groups and answers the operations that are not bound to one group; each OPC
// interface is implemented in a file of its own.
#pragma once

#include "com/com_object.h"
#include "com/connection_point.h"
#include "group/opc_group.h"
#include "group/server_context.h"
#include "opccomn.h"
#include "opcda.h"
#include "server/client_delivery.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class COPCServer final : public korvex::com::ComObject<COPCServer, IOPCServer, IOPCCommon, IOPCServerPublicGroups,
                                                       IOPCBrowseServerAddressSpace, IOPCItemProperties, IOPCBrowse,
                                                       IOPCItemIO, IConnectionPointContainer> {
public:
    // A client's server object over `context`, which outlives it.
    explicit COPCServer(const ServerContext& context);

    GroupTable& groups() { return *groups_; }

    // The update tick of every group of this client, in group-list order, under the server lock.
    // Each callback is marked with the group it comes from.
    void UpdateGroups(DWORD elapsed, CallbackOutbox& outbox);
    // Where this client's callbacks go: its own queue and delivery thread.
    const std::shared_ptr<server::ClientDelivery>& delivery() const { return delivery_; }
    korvex::com::ConnectionPoint<IOPCShutdown>& shutdownSinks() { return shutdown_; }
    // The name the client gave with SetClientName (empty when it gave none), when it connected, and
    // its number: clients are numbered from 1 as they connect, never reusing a number.
    std::wstring clientName() const;
    FILETIME connectTime() const { return connectTime_; }
    std::uint64_t clientNumber() const { return clientNumber_; }

    // IOPCServer
    HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                       OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID,
                                       OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                                       LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
    HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
    HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) override;

    // IOPCCommon
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;

    // IOPCServerPublicGroups: public groups do not exist in this server.
    HRESULT STDMETHODCALLTYPE GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) override;

    // IOPCBrowseServerAddressSpace: hierarchical browsing from this client's own position.
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
                                     OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                                     BOOL bReturnAllProperties, BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                                     DWORD* pdwPropertyIDs, BOOL* pbMoreElements, DWORD* pdwCount,
                                     OPCBROWSEELEMENT** ppBrowseElements) override;

    // IOPCItemIO: reads and writes by item ID, without a group.
    HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues,
                                   WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT,
                                       HRESULT** ppErrors) override;

    // IConnectionPointContainer: one connection point, for IOPCShutdown.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // The locales a client may choose, in the order QueryAvailableLocaleIDs lists them.
    static constexpr LCID kSupportedLocales[] = {0x0800, 0x0409};

private:
    void finalRelease() noexcept override;
    // Hands the group's begun write to the runtime write thread, whose completion goes to this
    // client's delivery; false when it cannot be handed over.
    bool HandOverWrite(const korvex::com::ComPtr<COPCGroup>& group) noexcept;

    const ServerContext context_;
    FILETIME connectTime_{};
    const std::uint64_t clientNumber_;
    const std::shared_ptr<GroupTable> groups_ = std::make_shared<GroupTable>();
    korvex::com::ConnectionPoint<IOPCShutdown> shutdown_{identity(), this};
    const std::shared_ptr<server::ClientDelivery> delivery_ = server::ClientDelivery::Open();
    mutable std::mutex lock_;  // the locale, the client name and the browse position
    LCID localeId_ = kSupportedLocales[0];
    std::wstring clientName_;
    DWORD browsePosition_ = 0;  // node number of the hierarchical browse position; 0: the root
};
