// A sink subscribed on an object's connection point (IConnectionPointContainer), unsubscribed
// when it goes. Unsubscribing from a server that is gone fails quietly.
#pragma once

#include "com/com_ptr.h"

#include <ocidl.h>

namespace opcclient {

class Subscription {
public:
    Subscription() = default;
    // The result of the advise is in `result`; the subscription is empty on failure.
    Subscription(IUnknown* source, REFIID sinkInterface, IUnknown* sink, HRESULT& result);
    ~Subscription();
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;

private:
    korvex::com::ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

}  // namespace opcclient
