#!/bin/sh
# make run: the simulator with the sample plant and the OPC server stay up for manual use until
# Ctrl-C; then everything ends in order.
set -u
. "$(dirname "$0")/opc-session.sh"

trap 'printf "\nStopping...\n"; stop_session; exit 0' INT TERM
echo "Starting the SCADA runtime simulator (sample plant: plant/sample-plant.toml) and the OPC server..."
if ! start_session; then
    abort_session
    exit 1
fi
cat <<TEXT

The simulator and the server Korvex.OPCServer.2 are running. In another terminal:

  $client_command --help
  $client_command status
  $client_command read NorthSubstation.analog.Setpoint
  $client_command write NorthSubstation.analog.Setpoint=42
  $client_command watch NorthSubstation.analog.BusbarVoltage NorthSubstation.switch.Breaker2

Logs: $logs. Ctrl-C here ends everything.
TEXT
while :; do sleep 1; done
