// The conformance server's group object: every method of every group-side interface of our IDL
// with canned results that depend on the inputs (see canned_server.h). Asynchronous requests
// are answered through the client's IOPCDataCallback from the callback worker.
#pragma once

#include "connection_point.h"

#include "com/com_object.h"
#include "com/variant.h"
#include "opcda.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace conformance {

class CannedGroup;

// What a group needs from its server. Called without the group's lock held.
class GroupOwner {
public:
    virtual bool nameInUse(const std::wstring& name, const CannedGroup* except) = 0;
    // Takes a clone in as a private group of the server.
    virtual HRESULT adopt(korvex::com::ComPtr<CannedGroup> group) = 0;
    virtual OPCHANDLE newGroupHandle() = 0;

protected:
    ~GroupOwner() = default;
};

struct GroupState {
    std::wstring name;
    OPCHANDLE serverHandle = 0;
    OPCHANDLE clientHandle = 0;
    BOOL active = FALSE;
    DWORD updateRate = 0;
    LONG timeBias = 0;
    FLOAT percentDeadband = 0;
    DWORD lcid = 0;
    DWORD keepAlive = 0;
};

class CannedGroup final
    : public korvex::com::ComObject<CannedGroup, IOPCGroupStateMgt2,
                                    korvex::com::also<IOPCGroupStateMgt, IOPCGroupStateMgt2>, IOPCPublicGroupStateMgt,
                                    IOPCSyncIO2, korvex::com::also<IOPCSyncIO, IOPCSyncIO2>, IOPCAsyncIO, IOPCAsyncIO3,
                                    korvex::com::also<IOPCAsyncIO2, IOPCAsyncIO3>, IOPCItemMgt, IOPCItemDeadbandMgt,
                                    IOPCItemSamplingMgt, IConnectionPointContainer> {
public:
    CannedGroup(GroupOwner* owner, GroupState state);

    // For the server, which holds its groups.
    std::wstring name() const;
    OPCHANDLE serverHandle() const;
    bool isPublic() const;
    void orphan();  // the server is gone

    // The revised rate for a requested one: at least 10 ms.
    static DWORD reviseRate(DWORD requested) { return requested < 10 ? 10 : requested; }

    // IOPCGroupStateMgt, IOPCGroupStateMgt2
    HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                                       FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                                       OPCHANDLE* phServerGroup) override;
    HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                                       LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                       OPCHANDLE* phClientGroup) override;
    HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) override;
    HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE SetKeepAlive(DWORD dwKeepAliveTime, DWORD* pdwRevisedKeepAliveTime) override;
    HRESULT STDMETHODCALLTYPE GetKeepAlive(DWORD* pdwKeepAliveTime) override;

    // IOPCPublicGroupStateMgt
    HRESULT STDMETHODCALLTYPE GetState(BOOL* pPublic) override;
    HRESULT STDMETHODCALLTYPE MoveToPublic() override;

    // IOPCSyncIO, IOPCSyncIO2
    HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                   OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, VARIANT** ppvValues,
                                         WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT,
                                       HRESULT** ppErrors) override;

    // IOPCAsyncIO
    HRESULT STDMETHODCALLTYPE Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                   DWORD* pTransactionID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    DWORD* pTransactionID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) override;
    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwTransactionID) override;

    // IOPCAsyncIO2, IOPCAsyncIO3
    HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                                   HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                                    DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override;
    HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) override;
    HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) override;
    HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) override;
    HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, DWORD dwTransactionID,
                                         DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT,
                                       DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE RefreshMaxAge(DWORD dwMaxAge, DWORD dwTransactionID, DWORD* pdwCancelID) override;

    // IOPCItemMgt
    HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                                       HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                            OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                             HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                               HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                           HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override;

    // IOPCItemDeadbandMgt
    HRESULT STDMETHODCALLTYPE SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT* pPercentDeadband,
                                              HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT** ppPercentDeadband,
                                              HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ClearItemDeadband(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;

    // IOPCItemSamplingMgt
    HRESULT STDMETHODCALLTYPE SetItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwRequestedSamplingRate,
                                                  DWORD** ppdwRevisedSamplingRate, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE GetItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, DWORD** ppdwSamplingRate,
                                                  HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ClearItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetItemBufferEnable(DWORD dwCount, OPCHANDLE* phServer, BOOL* pbEnable,
                                                  HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE GetItemBufferEnable(DWORD dwCount, OPCHANDLE* phServer, BOOL** ppbEnable,
                                                  HRESULT** ppErrors) override;

    // IConnectionPointContainer: IOPCDataCallback
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    struct Item {
        std::wstring accessPath;
        std::wstring itemId;
        BOOL active = FALSE;
        OPCHANDLE clientHandle = 0;
        OPCHANDLE serverHandle = 0;
        std::vector<BYTE> blob;
        VARTYPE requestedType = VT_EMPTY;
        VARTYPE canonicalType = VT_EMPTY;
        korvex::com::Variant value;
        WORD quality = 0;
        FILETIME timestamp{};
        std::optional<FLOAT> deadband;
        std::optional<DWORD> samplingRate;
        BOOL bufferEnable = FALSE;
    };

private:
    void finalRelease() noexcept override;
    Item* findItem(OPCHANDLE serverHandle);
    // Checks one definition as AddItems and ValidateItems do; fills the result on success.
    HRESULT checkDefinition(const OPCITEMDEF& definition, bool withBlob, OPCITEMRESULT& result,
                            korvex::com::Variant& value);
    HRESULT storeValue(Item& item, const VARIANT& value);
    // The sink, or CONNECT_E_NOCONNECTION.
    HRESULT callbackSink(korvex::com::ComPtr<IOPCDataCallback>& sink);
    DWORD newCancelId(DWORD transactionId);
    // What one callback hands the client, copied under the group's lock.
    struct Delivery {
        std::vector<OPCHANDLE> clientHandles;
        std::vector<korvex::com::Variant> values;
        std::vector<WORD> qualities;
        std::vector<FILETIME> timestamps;
        std::vector<HRESULT> errors;
        void add(const Item& item, FILETIME timestamp);
    };
    enum class Callback { dataChange, readComplete, writeComplete };
    void post(Callback kind, korvex::com::ComPtr<IOPCDataCallback> sink, DWORD transactionId, Delivery delivery);

    mutable std::mutex mutex_;
    GroupOwner* owner_;
    GroupState state_;
    bool public_ = false;
    BOOL enable_ = TRUE;
    std::map<OPCHANDLE, Item> items_;
    OPCHANDLE lastItemHandle_ = 0x1000;
    DWORD lastCancelId_ = 0x7000;
    std::map<DWORD, DWORD> transactions_;  // cancel ID -> transaction ID
    korvex::com::ComPtr<SingleConnectionPoint<IOPCDataCallback>> callbackPoint_;
};

}  // namespace conformance
