#include "tools/opcclient/subscription.h"

#include <utility>

namespace opcclient {

Subscription::Subscription(IUnknown* source, REFIID sinkInterface, IUnknown* sink, HRESULT& result) {
    korvex::com::ComPtr<IConnectionPointContainer> container;
    result = source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(result)) result = container->FindConnectionPoint(sinkInterface, point_.ReleaseAndGetAddressOf());
    if (SUCCEEDED(result)) result = point_->Advise(sink, &cookie_);
    if (FAILED(result)) point_.Reset();
}

Subscription::~Subscription() {
    if (point_) point_->Unadvise(cookie_);
}

Subscription::Subscription(Subscription&& other) noexcept
    : point_(std::move(other.point_)), cookie_(std::exchange(other.cookie_, 0)) {}

Subscription& Subscription::operator=(Subscription&& other) noexcept {
    std::swap(point_, other.point_);
    std::swap(cookie_, other.cookie_);
    return *this;
}

}  // namespace opcclient
