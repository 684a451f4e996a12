// The runtime behind the in-process server side, for tests that move its values themselves.
#pragma once

#include "tests/support/in_process_runtime.h"

namespace korvex::test {

InProcessRuntime& SessionRuntime();

}  // namespace korvex::test
