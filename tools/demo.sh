#!/usr/bin/env bash
# The demonstration that `./run demo` ends with: a velk-snmp agent on a loopback port with
# live values, a trap receiver, and the tool's commands against them.
#   tools/demo.sh BUILD_DIR
set -euo pipefail

BUILD=${1:?usage: tools/demo.sh BUILD_DIR}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOOL_DIR=$(cd "$BUILD/tools" && pwd)
[ -x "$TOOL_DIR/velk-snmp" ] || { echo "demo: $TOOL_DIR/velk-snmp is missing; build first" >&2; exit 1; }
export PATH="$TOOL_DIR:$PATH"

# MIB modules: the standard corpus beside the project, else this machine's MIB folders,
# and the project's own demonstration module in both cases.
if [ -d "$ROOT/../shared/mibs" ]; then
  STANDARD_MIBS=$(cd "$ROOT/../shared/mibs" && pwd)
  export VELK_MIBDIRS="$ROOT/tools/mibs:$STANDARD_MIBS"
else
  STANDARD_MIBS="this machine's MIB folders"
  export VELK_MIBDIRS="$ROOT/tools/mibs:$HOME/.snmp/mibs:/usr/share/snmp/mibs:/var/lib/mibs/ietf:/var/lib/mibs/iana"
fi
export VELK_MIBS="SNMPv2-MIB:IF-MIB:VELK-DEMO-MIB"

if [ -t 1 ]; then
  BOLD=$'\e[1m'; DIM=$'\e[2m'; CYAN=$'\e[36m'; GREEN=$'\e[32m'; OFF=$'\e[0m'
else
  BOLD=; DIM=; CYAN=; GREEN=; OFF=
fi

WORK=$(mktemp -d /tmp/velk-demo-XXXXXX)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${PIDS[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A UDP port on the loopback address that nobody seems to use (a program started on it is
# still checked: see start).
free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 40000))
    if command -v ss >/dev/null 2>&1 && ss -Hlun "sport = :$port" 2>/dev/null | grep -q .; then continue; fi
    echo "$port"
    return
  done
  echo $((20000 + RANDOM % 40000))
}

section() { printf '\n%s== %s ==%s\n' "$BOLD" "$1" "$OFF"; }
say() { printf '%s%s%s\n' "$DIM" "$1" "$OFF"; }
quote() {  # an argument as a user would type it
  if [[ $1 =~ ^[A-Za-z0-9_.:/=+,@%-]+$ ]]; then printf '%s' "$1"; else printf '"%s"' "${1//\"/\\\"}"; fi
}
show() {  # prints the command as a user would type it, then runs it (errors in line)
  local line=$1 a
  for a in "${@:2}"; do line+=" $(quote "$a")"; done
  printf '%s$ %s%s\n' "$CYAN" "$line" "$OFF"
  "$@" 2>&1
}

printf '%sVelk SNMP%s - an in-process SNMP v1/v2c library, shown through its command-line tool.\n' "$BOLD" "$OFF"
say "MIB modules: $STANDARD_MIBS, plus tools/mibs/VELK-DEMO-MIB.txt"

section "Starting a trap receiver and an agent"
# Each on a port of its own; a port that turns out to be taken gets another try.
for _ in $(seq 5); do
  TRAP_PORT=$(free_port)
  velk-snmp listen --address 127.0.0.1 --port "$TRAP_PORT" >"$WORK/traps.txt" 2>"$WORK/listen.err" &
  LISTEN_PID=$!
  for _ in $(seq 30); do grep -q listening "$WORK/listen.err" 2>/dev/null && break; sleep 0.1; done
  if kill -0 "$LISTEN_PID" 2>/dev/null; then PIDS+=("$LISTEN_PID"); break; fi
  wait "$LISTEN_PID" 2>/dev/null || true
  LISTEN_PID=
done
[ -n "${LISTEN_PID:-}" ] || { echo "demo: the trap receiver did not start:" >&2; cat "$WORK/listen.err" >&2; exit 1; }
AGENT_PID=
for _ in $(seq 5); do
  AGENT_PORT=$(free_port)
  [ "$AGENT_PORT" = "$TRAP_PORT" ] && continue
  AGENT=127.0.0.1:$AGENT_PORT
  velk-snmp agent --address 127.0.0.1 --port "$AGENT_PORT" --trap-dest "127.0.0.1:$TRAP_PORT" --heartbeat 3 \
    --value "sysContact.0=demo@velk.example" --value "sysLocation.0=the demonstration rack" \
    >"$WORK/agent.out" 2>"$WORK/agent.err" &
  AGENT_PID=$!
  for _ in $(seq 100); do
    velk-snmp get -t 0.2 -r 0 "$AGENT" sysUpTime.0 >/dev/null 2>&1 && break
    kill -0 "$AGENT_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$AGENT_PID" 2>/dev/null; then PIDS+=("$AGENT_PID"); break; fi
  wait "$AGENT_PID" 2>/dev/null || true
  AGENT_PID=
done
[ -n "$AGENT_PID" ] || { echo "demo: the agent did not start:" >&2; cat "$WORK/agent.err" >&2; exit 1; }
say "velk-snmp listen receives notifications on 127.0.0.1:$TRAP_PORT; velk-snmp agent serves this"
say "machine's system group and interfaces on $AGENT, sends its traps to the receiver and a"
say "heartbeat notification every 3 seconds."
printf '%s%s%s\n' "$GREEN" "$(head -1 "$WORK/agent.err")" "$OFF"

section "1. The system group"
say "A walk reads a subtree with GetBulk requests; names and value types come from the MIB."
show velk-snmp walk "$AGENT" system

section "2. The interfaces table"
say "table walks IF-MIB::ifTable and lines the cells up by row; --columns picks a few columns."
show velk-snmp table "$AGENT" ifTable --columns ifDescr,ifType,ifMtu,ifPhysAddress,ifOperStatus,ifInOctets,ifOutOctets

section "3. Live values from the project's own MIB"
say "VELK-DEMO-MIB's objects are read from this machine on every request."
show velk-snmp walk "$AGENT" VELK-DEMO-MIB::velkDemoObjects
say "velkMessage is writable: a SetRequest changes it, a GetRequest reads it back."
show velk-snmp set "$AGENT" velkMessage.0 s "Hello, $(whoami 2>/dev/null || echo you)!"
say "A read-only object refuses, and the tool says which variable and why (exit status 1):"
show velk-snmp set "$AGENT" sysDescr.0 s "new description" || true

section "4. Names and numbers"
say "translate turns names into OIDs and OIDs into names, using the compiled MIB modules."
for name in sysDescr.0 IF-MIB::ifOperStatus.2 .1.3.6.1.2.1.2.2.1.10.1 VELK-DEMO-MIB::velkHeartbeat; do
  show velk-snmp translate "$name"
done
show velk-snmp translate --details VELK-DEMO-MIB::velkLoadAverage1

section "5. Notifications"
say "A v2c trap and an inform sent with velk-snmp (the receiver acknowledges the inform):"
show velk-snmp trap 127.0.0.1:"$TRAP_PORT" "" IF-MIB::linkDown ifIndex.2 i 2 ifAdminStatus.2 i up ifOperStatus.2 i down
show velk-snmp inform 127.0.0.1:"$TRAP_PORT" "" VELK-DEMO-MIB::velkHeartbeat velkMessage.0 s "an inform"
# Wait for the agent's first heartbeat, then show everything the receiver printed.
for _ in $(seq 60); do
  grep -q "velkHeartbeat" "$WORK/traps.txt" 2>/dev/null && grep -q "INFORM" "$WORK/traps.txt" && \
    [ "$(grep -c 'v2c TRAP' "$WORK/traps.txt")" -ge 2 ] && break
  sleep 0.1
done
say "What velk-snmp listen printed (the agent's coldStart when it opened, its heartbeat, ours):"
sed 's/^/  /' "$WORK/traps.txt"

section "Done"
say "Stopping the agent and the receiver."
