// The client's exit codes, for scripts: they tell a refused item from an unreachable server.
#pragma once

namespace opcclient {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,       // a call or an item failed: unknown or invalid item ID, write refused, ...
    kExitUsage = 2,        // the command line or a value to write could not be understood
    kExitNoServer = 3,     // no server: not registered, cannot be started, or ended at start
    kExitServerGone = 4,   // the connection to the server was lost, or it announced its shutdown
};

}  // namespace opcclient
