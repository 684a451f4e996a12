// scadasim.exe for a test: started from the build's bin folder with its output captured. It
// prints the line "ready" once the runtime's memory, window and control channel are up.
#pragma once

#include "wine_process.h"

#include <string>
#include <vector>

namespace korvex::test {

ChildProcess startSimulator(const std::vector<std::string>& args);

}  // namespace korvex::test
