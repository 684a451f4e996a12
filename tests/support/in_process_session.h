// The runtime behind the in-process server side, for tests that move its values themselves.
#pragma once

#include "group/server_context.h"
#include "tests/support/in_process_runtime.h"

namespace korvex::test {

InProcessRuntime& SessionRuntime();
// The address space and server state the session's server objects work on.
const ServerContext& SessionContext();

}  // namespace korvex::test
