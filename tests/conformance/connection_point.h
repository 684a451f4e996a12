// A connection point with room for one sink of interface Sink, as OPC servers offer them
// (IOPCShutdown on the server, IOPCDataCallback on a group): a second Advise gets
// CONNECT_E_ADVISELIMIT.
#pragma once

#include "com/com_object.h"
#include "com/standard_enumerators.h"

#include <ocidl.h>
#include <olectl.h>

#include <mutex>
#include <vector>

namespace conformance {

template <class Sink>
class SingleConnectionPoint final : public korvex::com::ComObject<SingleConnectionPoint<Sink>, IConnectionPoint> {
public:
    // `container` owns this point and calls detach() when it goes.
    explicit SingleConnectionPoint(IConnectionPointContainer* container) : container_(container) {}

    void detach() {
        std::lock_guard lock(mutex_);
        container_ = nullptr;
        sink_ = nullptr;
    }

    korvex::com::ComPtr<Sink> sink() const {
        std::lock_guard lock(mutex_);
        return sink_;
    }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = __uuidof(Sink);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override {
        if (!container) return E_POINTER;
        std::lock_guard lock(mutex_);
        *container = container_;
        if (!container_) return E_UNEXPECTED;
        container_->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Advise(IUnknown* unknown, DWORD* cookie) override {
        if (!unknown || !cookie) return E_POINTER;
        *cookie = 0;
        korvex::com::ComPtr<Sink> sink;
        if (FAILED(unknown->QueryInterface(__uuidof(Sink), reinterpret_cast<void**>(sink.ReleaseAndGetAddressOf()))))
            return CONNECT_E_CANNOTCONNECT;
        std::lock_guard lock(mutex_);
        if (sink_) return CONNECT_E_ADVISELIMIT;
        sink_ = sink;
        *cookie = ++lastCookie_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        korvex::com::ComPtr<Sink> released;
        std::lock_guard lock(mutex_);
        if (!sink_ || cookie != lastCookie_) return CONNECT_E_NOCONNECTION;
        released = std::move(sink_);
        sink_ = nullptr;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override {
        if (!connections) return E_POINTER;
        std::vector<korvex::com::Connection> list;
        {
            std::lock_guard lock(mutex_);
            if (sink_) list.push_back({korvex::com::ComPtr<IUnknown>(sink_.Get()), lastCookie_});
        }
        auto enumerator = korvex::com::make<korvex::com::ConnectionEnumerator>(std::move(list));
        if (!enumerator) return E_OUTOFMEMORY;
        *connections = enumerator.Detach();
        return S_OK;
    }

private:
    mutable std::mutex mutex_;
    IConnectionPointContainer* container_;
    korvex::com::ComPtr<Sink> sink_;
    DWORD lastCookie_ = 0;
};

}  // namespace conformance
