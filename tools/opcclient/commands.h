// The client's commands, one file each. Each prints its results and returns the exit code;
// failures of the connection or of a whole call come as ClientError.
#pragma once

#include "tools/opcclient/command_line.h"
#include "tools/opcclient/connection.h"
#include "tools/opcclient/output.h"

namespace opcclient {

int runStatus(const Connection& connection, const Options& options, Output& out);
int runBrowse(const Connection& connection, const Options& options, Output& out);
int runProps(const Connection& connection, const Options& options, Output& out);
int runRead(const Connection& connection, const Options& options, Output& out);
int runWrite(const Connection& connection, const Options& options, Output& out);
int runWatch(const Connection& connection, const Options& options, Output& out);
int runError(const Connection& connection, const Options& options, Output& out);
// Needs no connection to a server.
int runServers(const Options& options, Output& out);

}  // namespace opcclient
