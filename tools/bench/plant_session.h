// The simulator serving a generated plant and the server program started on it, for the
// end-to-end sections: started when a section asks for a plant that is not up, kept up for the next
// section that asks for the same one, and ended in order (the clients let go, the server ends by
// itself, the simulator is told to quit). The bench holds an anchor connection meanwhile, since the
// server ends when its last client goes.
#pragma once

#include "com/com_ptr.h"
#include "opcda.h"
#include "tests/support/simulator_control.h"
#include "tests/support/wine_process.h"

#include <windows.h>

#include <memory>
#include <string>

namespace bench {

// Stations of 1,000 analog points (bench_items.h); in each station the first `clockPoints` points
// carry the simulator's clock signal (they change at every simulator tick), the others stay.
struct BenchPlant {
    int points = 100000;
    int clockPoints = 1000;  // per station
    int periodMs = 150;      // simulator tick

    bool operator==(const BenchPlant&) const = default;
};

class PlantSession {
public:
    explicit PlantSession(const BenchPlant& plant);
    ~PlantSession();
    PlantSession(const PlantSession&) = delete;
    PlantSession& operator=(const PlantSession&) = delete;

    const BenchPlant& plant() const { return plant_; }
    // A new client connection (its own server object).
    korvex::com::ComPtr<IOPCServer> Connect() const;
    // Kernel and user time of the server process so far, and of Wine's wineserver (which carries
    // every cross-process call).
    double ServerCpuSeconds() const;
    double WineServerCpuSeconds() const;
    // The server's private bytes (host_process.h) now, and right after it started (before any
    // client but the anchor).
    double ServerPrivateBytes() const;
    double privateBytesAtStart() const { return privateBytesAtStart_; }
    double startSeconds() const { return startSeconds_; }

private:
    BenchPlant plant_;
    std::unique_ptr<korvex::test::ChildProcess> simulator_;
    std::unique_ptr<korvex::test::SimulatorControl> control_;
    std::unique_ptr<korvex::test::ChildProcess> server_;
    korvex::com::ComPtr<IOPCServer> anchor_;
    int serverHostPid_ = 0;
    int wineServerHostPid_ = 0;
    double privateBytesAtStart_ = 0;
    double startSeconds_ = 0;
};

// The session of `plant`, started (and any other ended) when it is not the one up.
PlantSession& UsePlant(const BenchPlant& plant);
// Ends the session that is up, if any.
void EndPlant();

}  // namespace bench
