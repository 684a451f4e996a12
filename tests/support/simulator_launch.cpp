#include "simulator_launch.h"

namespace korvex::test {

ChildProcess startSimulator(const std::vector<std::string>& args) { return ChildProcess("scadasim.exe", args); }

}  // namespace korvex::test
