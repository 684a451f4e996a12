// The plant the benchmarks run on: a synthetic plant of a given shape, published in this process
// under the runtime's real shared-memory names, with the server's data access attached to it.
#pragma once

#include "rtdb/data_access.h"
#include "tests/support/in_process_runtime.h"
#include "rtdb/standin/rt_image.h"

#include <span>
#include <vector>

namespace bench {

struct PlantShape {
    int stations = 100;
    int pointsPerStation = 1000;  // half analog, half switch

    int Points() const { return stations * pointsPerStation; }
};

// Stations "Station000"..., each with analog points "AI0000"... and switch points "DI0000"...
std::vector<rtimage::Station> MakePlant(const PlantShape& shape);

class PublishedPlant {
public:
    // Throws std::runtime_error when the data access cannot attach the published database.
    explicit PublishedPlant(std::span<const rtimage::Station> plant);
    PublishedPlant(const PublishedPlant&) = delete;
    PublishedPlant& operator=(const PublishedPlant&) = delete;

    InProcessRuntime& runtime() { return runtime_; }
    rtdb::CDataAccessEx& access() { return access_; }

private:
    InProcessRuntime runtime_;
    rtdb::CDataAccessEx access_;
};

}  // namespace bench
