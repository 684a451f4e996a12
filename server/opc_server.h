// The object a client receives when it connects: one per activation, counted as one client. It owns
// the client's groups and answers the operations that are not bound to one group; each OPC
// interface is implemented in a file of its own.
#pragma once

#include "com/com_object.h"
#include "com/connection_point.h"
#include "group/opc_group.h"
#include "opccomn.h"
#include "opcda.h"
#include "server/client_delivery.h"

#include <memory>
#include <mutex>
#include <string>

class COPCServer final
    : public korvex::com::ComObject<COPCServer, IOPCServer, IOPCCommon, IOPCServerPublicGroups,
                                    IConnectionPointContainer> {
public:
    COPCServer();

    GroupTable& groups() { return *groups_; }

    // The update tick of every group of this client, in group-list order, under the server lock.
    // Each callback is marked with the group it comes from.
    void UpdateGroups(DWORD elapsed, CallbackOutbox& outbox);
    // Where this client's callbacks go: its own queue and delivery thread.
    const std::shared_ptr<server::ClientDelivery>& delivery() const { return delivery_; }
    korvex::com::ConnectionPoint<IOPCShutdown>& shutdownSinks() { return shutdown_; }

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

    // IOPCCommon
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;

    // IOPCServerPublicGroups: public groups do not exist in this server.
    HRESULT STDMETHODCALLTYPE GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) override;

    // IConnectionPointContainer: one connection point, for IOPCShutdown.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // The locales a client may choose, in the order QueryAvailableLocaleIDs lists them.
    static constexpr LCID kSupportedLocales[] = {0x0800, 0x0409};

private:
    void finalRelease() noexcept override;

    const std::shared_ptr<GroupTable> groups_ = std::make_shared<GroupTable>();
    korvex::com::ConnectionPoint<IOPCShutdown> shutdown_{identity(), this};
    const std::shared_ptr<server::ClientDelivery> delivery_ = server::ClientDelivery::Open();
    mutable std::mutex lock_;  // the locale and the client name
    LCID localeId_ = kSupportedLocales[0];
    std::wstring clientName_;
};
