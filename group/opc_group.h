// A client's group: the unit that holds items, an update rate, an active flag and a deadband, and
// that sends data-change callbacks to its subscribers. This class holds the group's state; each
// OPC interface is implemented in a file of its own.
#pragma once

#include "com/com_object.h"
#include "com/connection_point.h"
#include "group/async_request_queue.h"
#include "group/callback_outbox.h"
#include "group/group_items.h"
#include "group/group_table.h"
#include "group/server_context.h"
#include "opcda.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

class COPCGroup final
    : public korvex::com::ComObject<COPCGroup, IOPCGroupStateMgt2,
                                    korvex::com::also<IOPCGroupStateMgt, IOPCGroupStateMgt2>, IOPCPublicGroupStateMgt,
                                    IOPCSyncIO2, korvex::com::also<IOPCSyncIO, IOPCSyncIO2>, IOPCAsyncIO, IOPCAsyncIO3,
                                    korvex::com::also<IOPCAsyncIO2, IOPCAsyncIO3>, IOPCItemMgt, IOPCItemDeadbandMgt,
                                    IOPCItemSamplingMgt, IConnectionPointContainer> {
public:
    // What a client sets and reads through the state operations, guarded by the group lock.
    struct State {
        std::wstring name;
        BOOL active = FALSE;
        DWORD updateRate = 0;
        OPCHANDLE clientGroupHandle = 0;
        LONG timeBias = 0;
        FLOAT percentDeadband = 0.0f;
        DWORD lcid = 0x800;  // LOCALE_SYSTEM_DEFAULT
        DWORD keepAliveTime = 0;
    };

    // A group of the client whose groups `table` lists, serving `context`, with the defaults of a
    // new group (the time bias of the local time zone) and a new server handle.
    COPCGroup(const ServerContext& context, std::shared_ptr<GroupTable> table);

    OPCHANDLE serverGroupHandle() const { return serverGroupHandle_; }
    std::wstring name() const;
    State state() const;

    // What the operator's view shows of the group, copied under the group lock.
    struct Summary {
        State state;
        std::size_t items = 0;
        std::size_t activeItems = 0;
        std::size_t queuedRequests = 0;  // asynchronous requests queued or executing
    };
    Summary summary() const;
    void SetInitialState(const State& state);

    // RemoveGroup without force while the client still holds the group: every operation refuses
    // work from now on, and the group leaves its server's table when the client lets go.
    void SetRemovePending(bool pending);
    bool removePending() const;

    // IOPCGroupStateMgt
    HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                                       FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                                       OPCHANDLE* phServerGroup) override;
    HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                                       LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                       OPCHANDLE* phClientGroup) override;
    HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) override;
    HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    // IOPCGroupStateMgt2
    HRESULT STDMETHODCALLTYPE SetKeepAlive(DWORD dwKeepAliveTime, DWORD* pdwRevisedKeepAliveTime) override;
    HRESULT STDMETHODCALLTYPE GetKeepAlive(DWORD* pdwKeepAliveTime) override;
    // IOPCPublicGroupStateMgt: public groups do not exist in this server.
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
    // IOPCAsyncIO: the DA 1.0 asynchronous calls are refused.
    HRESULT STDMETHODCALLTYPE Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                   DWORD* pTransactionID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    DWORD* pTransactionID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) override;
    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwTransactionID) override;
    // IOPCAsyncIO2, IOPCAsyncIO3: requests queued now and started by the update thread, one per tick
    // and each after the one before has completed.
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
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, DWORD dwTransactionID,
                                       DWORD* pdwCancelID, HRESULT** ppErrors) override;
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
    // IOPCItemSamplingMgt: per-item sampling and buffering are not supported.
    HRESULT STDMETHODCALLTYPE SetItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwRequestedSamplingRate,
                                                  DWORD** ppdwRevisedSamplingRate, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE GetItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, DWORD** ppdwSamplingRate,
                                                  HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ClearItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetItemBufferEnable(DWORD dwCount, OPCHANDLE* phServer, BOOL* pbEnable,
                                                  HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE GetItemBufferEnable(DWORD dwCount, OPCHANDLE* phServer, BOOL** ppbEnable,
                                                  HRESULT** ppErrors) override;
    // IConnectionPointContainer: one connection point, for IOPCDataCallback.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    korvex::com::ConnectionPoint<IOPCDataCallback>& dataCallbacks() { return dataCallbacks_; }

    // One tick of the update thread (under the server lock): scans the group when its update period
    // has run out, keeps silent groups alive and executes the asynchronous requests queued before
    // the tick. What is to be sent goes to `outbox`, sent by the caller once every lock is released.
    // True when it reached a write: that waits for the runtime, so the caller carries it out off the
    // tick with ExecuteHandedOverWrite, and the group's later requests wait for it.
    [[nodiscard]] bool Tick(DWORD elapsed, CallbackOutbox& outbox);
    // Carries out the write that Tick handed over and gathers its callback into `outbox`; with
    // `carryOut` false (the server stops first), only gives it up.
    void ExecuteHandedOverWrite(bool carryOut, CallbackOutbox& outbox);

    // What a read needs of one item, taken under the group lock.
    struct ItemView {
        bool found = false;
        COPCItem* point = nullptr;
        OPCHANDLE clientHandle = 0;
        VARTYPE requestedType = VT_EMPTY;
        bool active = false;
        values::ValueRecord cache;
        std::size_t occurrence = 0;  // which of the group's items with its handle, from 0
    };

private:
    void releasedTo(ULONG remaining) noexcept override;
    void finalRelease() noexcept override;

    // The two gates every group operation passes first: the server has not failed and the group's
    // removal is not pending.
    HRESULT CheckGates() const;
    // Resolves the item definitions into `results`/`errors`; with `added`, appends the valid ones
    // to the group's items (the caller holds the group lock).
    HRESULT ResolveItems(DWORD count, const OPCITEMDEF* definitions, bool add, OPCITEMRESULT** ppResults,
                         HRESULT** ppErrors);
    // The items of `handles`, each the first in list order with its handle; with `eachItemOnce` (a
    // refresh, whose handles are those of the group's items), the n-th repeat of a handle is the
    // n-th item with it, so that a point added twice is reported with both client handles.
    std::vector<ItemView> ViewItems(DWORD count, const OPCHANDLE* handles, bool& groupActive,
                                    bool eachItemOnce = false);
    // Reads the point from the database into the point item's and the item's caches; false when
    // the read failed (both caches keep their values). With `onceThisTick` (the update thread), a
    // point the update cycle already read in this tick is taken from the point item's cache.
    bool DeviceRead(OPCHANDLE serverHandle, const ItemView& item, values::ValueRecord& reading,
                    bool onceThisTick = false);
    // One value to write, with the quality and timestamp a WriteVQT gives (never sent on).
    struct WriteRequest {
        const VARIANT* value;
        const WORD* quality;
        const FILETIME* timestamp;
    };
    // Write and WriteVQT: the checks, then for each item the write test and the write.
    template <class Request>
    HRESULT WriteItems(DWORD count, OPCHANDLE* handles, HRESULT** ppErrors, Request request);
    // The write test, then the write to the runtime under the point's lock.
    // `value` may be converted in place.
    HRESULT WriteItem(const ItemView& item, const VARIANT& value, const WORD* quality, const FILETIME* timestamp);
    // Compares every active readable item with its point's value of this tick; gathers the changes
    // (under the group lock).
    void Scan(CallbackOutbox& outbox);

    // Checks the items of an asynchronous read or write and queues a request for those that pass;
    // `addItem(request, i)` copies what the request needs of entry i from the call's other input
    // array (`inputsGiven`: that array is not null).
    template <class AddItem>
    HRESULT QueueItems(DWORD count, const OPCHANDLE* handles, bool inputsGiven, bool write,
                       std::unique_ptr<AsyncRequest> request, DWORD* pdwCancelID, HRESULT** ppErrors, AddItem addItem);
    HRESULT QueueRefresh(std::unique_ptr<AsyncRequest> request, const DWORD* maxAge, DWORD* pdwCancelID);
    // The update thread's part: executes, in order, the reads and refreshes queued up to
    // `lastQueued` and gathers their callbacks; true when it reached a write, begun and left to
    // ExecuteHandedOverWrite.
    bool ExecuteQueuedRequests(std::uint64_t lastQueued, CallbackOutbox& outbox);
    std::optional<GroupCallback> ExecuteRead(const AsyncRequest& request);
    std::optional<GroupCallback> ExecuteWrite(AsyncRequest& request);
    // A callback of `kind` to the current subscribers, addressed as the request was.
    GroupCallback CallbackFor(GroupCallback::Kind kind, const AsyncRequest& request);
    // Runs `apply` on the first item of each handle, OPC_E_INVALIDHANDLE where there is none, under
    // the group lock.
    template <class Apply>
    HRESULT ForEachHandle(DWORD count, const OPCHANDLE* handles, HRESULT** ppErrors, Apply apply);

    const ServerContext context_;
    const std::shared_ptr<GroupTable> table_;
    const OPCHANDLE serverGroupHandle_;
    mutable std::recursive_mutex lock_;  // the group lock
    State state_;
    GroupItems items_;
    bool removePending_ = false;
    // Update-cycle state; wide and signed so that the largest rates and keep-alive times count down
    // as slowly as the client asked.
    long long updateCountdown_ = 0;
    unsigned long long keepAliveElapsed_ = 0;
    bool keepAliveArmed_ = true;
    BOOL callbacksEnabled_ = TRUE;  // as the client set it; governs only the scan's data changes
    AsyncRequestQueue requests_;
    korvex::com::ConnectionPoint<IOPCDataCallback> dataCallbacks_{identity(), this};
};
