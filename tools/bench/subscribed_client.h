// One client of the real server for the end-to-end sections: its own connection, one group of items
// on a range of the bench plant's points, and a ChangeRecorder subscribed to it; everything is
// released in order when it goes. And what a recorder's window says about the deliveries.
#pragma once

#include "change_recorder.h"
#include "opc_calls.h"
#include "plant_session.h"

#include <memory>
#include <vector>

namespace bench {

class SubscribedClient {
public:
    SubscribedClient(const PlantSession& session, int firstPoint, int count, DWORD updateRateMs);
    ~SubscribedClient();
    SubscribedClient(const SubscribedClient&) = delete;
    SubscribedClient& operator=(const SubscribedClient&) = delete;

    ChangeRecorder& recorder() { return *recorder_; }
    DWORD items() const { return items_; }

private:
    DWORD items_;
    ComPtr<IOPCServer> server_;
    OPCHANDLE groupHandle_ = 0;
    ComPtr<IOPCItemMgt> group_;
    ComPtr<ChangeRecorder> recorder_;
    std::unique_ptr<Subscription> subscription_;
};

struct DeliveryFigures {
    double changesPerSecond = 0;  // between the first and the last callback of the window
    double meanIntervalMs = 0;
    double longestIntervalMs = 0;
    int lostTicks = 0;           // update periods that passed without a callback
    int partialCallbacks = 0;    // callbacks that did not carry every item
    std::uint64_t callbacks = 0;
    std::uint64_t items = 0;
};

DeliveryFigures Analyse(const ChangeRecorder::Window& window, DWORD itemsPerTick, DWORD updateRateMs);

// Latency percentile (0..1) of the window's ages, in ms.
double AgePercentileMs(const ChangeRecorder::Window& window, double fraction);

}  // namespace bench
