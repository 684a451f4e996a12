#include "subscribed_client.h"

#include "bench_items.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace bench {

SubscribedClient::SubscribedClient(const PlantSession& session, int firstPoint, int count, DWORD updateRateMs)
    : items_(static_cast<DWORD>(count)), server_(session.Connect()) {
    DWORD revised = 0;
    Check(server_->AddGroup(L"", TRUE, updateRateMs, 1, nullptr, nullptr, 0, &groupHandle_, &revised, IID_IOPCItemMgt,
                            reinterpret_cast<LPUNKNOWN*>(group_.ReleaseAndGetAddressOf())),
          "AddGroup");
    std::vector<std::wstring> ids = BenchItemIds(firstPoint, count);
    std::vector<OPCITEMDEF> definitions = ItemDefinitions(ids);
    AddItems(group_.Get(), definitions);
    recorder_ = korvex::com::make<ChangeRecorder>(true);
    subscription_ = std::make_unique<Subscription>(group_.Get(), recorder_->identity());
}

SubscribedClient::~SubscribedClient() {
    subscription_.reset();
    group_.Reset();
    if (server_) server_->RemoveGroup(groupHandle_, FALSE);
}

DeliveryFigures Analyse(const ChangeRecorder::Window& window, DWORD itemsPerTick, DWORD updateRateMs) {
    DeliveryFigures f;
    f.callbacks = window.callbacks;
    f.items = window.items;
    const std::vector<double>& at = window.arrivals;
    const double period = updateRateMs / 1000.0;
    for (std::size_t i = 1; i < at.size(); ++i) {
        const double interval = at[i] - at[i - 1];
        f.longestIntervalMs = std::max(f.longestIntervalMs, interval * 1e3);
        if (interval > 1.5 * period) f.lostTicks += static_cast<int>(std::lround(interval / period)) - 1;
    }
    for (const std::uint32_t count : window.counts)
        if (count < itemsPerTick) ++f.partialCallbacks;
    if (at.size() >= 2) {
        const double span = at.back() - at.front();
        const std::uint64_t after = window.items - window.counts.front();
        f.changesPerSecond = static_cast<double>(after) / span;
        f.meanIntervalMs = span * 1e3 / static_cast<double>(at.size() - 1);
    }
    return f;
}

double AgePercentileMs(const ChangeRecorder::Window& window, double fraction) {
    const std::uint64_t total = std::accumulate(window.ages.begin(), window.ages.end(), std::uint64_t{0});
    if (total == 0) return 0;
    const auto wanted = static_cast<std::uint64_t>(std::ceil(fraction * static_cast<double>(total)));
    std::uint64_t seen = 0;
    for (std::size_t ms = 0; ms < window.ages.size(); ++ms) {
        seen += window.ages[ms];
        if (seen >= wanted) return static_cast<double>(ms) + 0.5;
    }
    return window.oldestMs;
}

}  // namespace bench
