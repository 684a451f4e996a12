// One client thread of the item stress test: adds, renames, (de)activates, reads and removes items
// of a group shared with other threads and another process, and checks every answer. Client handles
// carry the worker, a sequence number and the index of the item ID, so that any thread can check
// any item it sees.
#pragma once

#include "opcda.h"

#include <chrono>
#include <string>
#include <vector>

namespace korvex::test {

struct StressReport {
    long operations = 0;
    long reads = 0;
    std::vector<std::string> faults;     // empty when every answer was right
    std::vector<OPCHANDLE> keptHandles;  // client handles of the items left in the group at the end
};

// Values the Setpoint point (slot 0's) takes during the test (the test moves it between them).
inline constexpr float kStressSetpointValues[] = {20.0f, 80.0f};

// Worker slots: six, each with its own points.
inline constexpr unsigned kStressSlots = 6;

// Items of other points that stay in the group all the time, so that every operation on the
// group's list and index has a long list to work on; returns their client handles (none on failure).
std::vector<OPCHANDLE> AddStressBase(IOPCItemMgt* items, unsigned count);

// Runs until `duration` has passed; `items` may be a proxy shared with other threads.
StressReport RunItemStress(IOPCItemMgt* items, unsigned workerId, unsigned slot, std::chrono::milliseconds duration);

// The item ID (as the group lists it) that a client handle of the stress test names, or null when no stress worker made it.
const wchar_t* StressItemId(OPCHANDLE clientHandle);

}  // namespace korvex::test
