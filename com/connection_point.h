// A connection point for one sink interface, embedded in the object that offers it: it shares the
// owner's reference count, and its subscriptions are kept in subscription order under cookies
// that are never 0 and never reused while the point lives.
//
//     class COPCServer : public ComObject<COPCServer, IConnectionPointContainer, ...> {
//         ConnectionPoint<IOPCShutdown> shutdown_{identity(), this};
//     };
#pragma once

#include "com/com_ptr.h"
#include "com/standard_enumerators.h"

#include <ocidl.h>
#include <olectl.h>

#include <map>
#include <mutex>
#include <vector>

namespace korvex::com {

template <class Sink>
class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(IUnknown* owner, IConnectionPointContainer* container) noexcept
        : owner_(owner), container_(container) {}
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    // The subscribed sinks in subscription order, each with a reference: callers call them after
    // letting go of every lock.
    std::vector<ComPtr<Sink>> Sinks() const {
        std::lock_guard guard(lock_);
        std::vector<ComPtr<Sink>> sinks;
        sinks.reserve(sinks_.size());
        for (const auto& [cookie, sink] : sinks_) sinks.push_back(sink);
        return sinks;
    }

    bool HasSinks() const {
        std::lock_guard guard(lock_);
        return !sinks_.empty();
    }

    // IConnectionPointContainer of an owner whose only connection point this is.
    HRESULT FindAsOnlyPoint(REFIID riid, IConnectionPoint** point) {
        if (point == nullptr) return E_POINTER;
        *point = nullptr;
        if (riid != __uuidof(Sink)) return CONNECT_E_NOCONNECTION;
        *point = this;
        AddRef();
        return S_OK;
    }

    HRESULT EnumerateAsOnlyPoint(IEnumConnectionPoints** points) {
        if (points == nullptr) return E_POINTER;
        *points = nullptr;
        std::vector<ComPtr<IConnectionPoint>> list{ComPtr<IConnectionPoint>(this)};
        ComPtr<ConnectionPointEnumerator> enumerator = make<ConnectionPointEnumerator>(std::move(list));
        if (!enumerator) return E_OUTOFMEMORY;
        return enumerator->QueryInterface(IID_IEnumConnectionPoints, reinterpret_cast<void**>(points));
    }

    // Drops every subscription (the owner is going away).
    void Clear() {
        std::map<DWORD, ComPtr<Sink>> dropped;
        std::lock_guard guard(lock_);
        dropped.swap(sinks_);
    }

    // IUnknown: the point's own identity, the owner's lifetime.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
            *object = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        if (iid == nullptr) return E_POINTER;
        *iid = __uuidof(Sink);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override {
        if (container == nullptr) return E_POINTER;
        *container = container_;
        container_->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Advise(IUnknown* unknownSink, DWORD* cookie) override {
        if (cookie != nullptr) *cookie = 0;
        if (unknownSink == nullptr || cookie == nullptr) return E_POINTER;
        ComPtr<Sink> sink;
        const HRESULT hr = unknownSink->QueryInterface(__uuidof(Sink), reinterpret_cast<void**>(sink.ReleaseAndGetAddressOf()));
        if (hr == E_NOINTERFACE) return CONNECT_E_CANNOTCONNECT;
        if (FAILED(hr)) return hr;
        std::lock_guard guard(lock_);
        try {
            // Cookies count up; after a wrap, skip 0 and the ones still in use.
            do {
                ++lastCookie_;
            } while (lastCookie_ == 0 || sinks_.count(lastCookie_) != 0);
            sinks_.emplace(lastCookie_, std::move(sink));
        } catch (const std::bad_alloc&) {
            return CONNECT_E_ADVISELIMIT;
        }
        *cookie = lastCookie_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        ComPtr<Sink> released;  // given back after the lock
        std::lock_guard guard(lock_);
        const auto found = sinks_.find(cookie);
        if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
        released = std::move(found->second);
        sinks_.erase(found);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override {
        if (connections == nullptr) return E_POINTER;
        *connections = nullptr;
        std::vector<Connection> snapshot;
        {
            std::lock_guard guard(lock_);
            for (const auto& [cookie, sink] : sinks_) snapshot.push_back({ComPtr<IUnknown>(sink.Get()), cookie});
        }
        ComPtr<ConnectionEnumerator> enumerator = make<ConnectionEnumerator>(std::move(snapshot));
        if (!enumerator) return E_OUTOFMEMORY;
        return enumerator->QueryInterface(IID_IEnumConnections, reinterpret_cast<void**>(connections));
    }

private:
    IUnknown* owner_;
    IConnectionPointContainer* container_;
    mutable std::mutex lock_;
    std::map<DWORD, ComPtr<Sink>> sinks_;
    DWORD lastCookie_ = 0;
};

}  // namespace korvex::com
