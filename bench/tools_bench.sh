#!/usr/bin/env bash
# velk-snmp beside net-snmp's programs, in the same run: walks of a large snmpd tree with
# GetNext and with GetBulk (wall and CPU time of the client), and the start-up of translate
# with the standard MIB corpus compiled, from its image, and snmptranslate.
#   bench/tools_bench.sh [BUILD_DIR] [ROUNDS]     (default build/release, 3 rounds; best of the rounds)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build/release}
ROUNDS=${2:-3}
TOOL=$(cd "$BUILD/tools" && pwd)/velk-snmp
MIBS=$(cd "$ROOT/../shared/mibs" 2>/dev/null && pwd || true)
[ -x "$TOOL" ] || { echo "tools_bench: $TOOL is missing; build first" >&2; exit 1; }
[ -n "$MIBS" ] || { echo "tools_bench: the MIB corpus ../shared/mibs is missing" >&2; exit 1; }
for p in snmpd snmpwalk snmpbulkwalk snmptranslate; do
  command -v "$p" >/dev/null 2>&1 || [ -x "/usr/sbin/$p" ] || { echo "tools_bench: $p is missing" >&2; exit 1; }
done
SNMPD=$(command -v snmpd || echo /usr/sbin/snmpd)
LIMIT=300  # seconds any one measurement may take

WORK=$(mktemp -d /tmp/velk-tools-bench-XXXXXX)
SNMPD_PID=
cleanup() {
  if [ -n "$SNMPD_PID" ]; then
    kill -TERM "$SNMPD_PID" 2>/dev/null || true
    wait "$SNMPD_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

PORT=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
AGENT=127.0.0.1:$PORT
cat >"$WORK/snmpd.conf" <<EOF
rocommunity public 127.0.0.1
EOF
MIBS= MIBDIRS=$MIBS "$SNMPD" -f -Lf "$WORK/snmpd.log" -C -c "$WORK/snmpd.conf" -p "$WORK/snmpd.pid" "udp:$AGENT" &
SNMPD_PID=$!
for _ in $(seq 100); do
  "$TOOL" get -m "" -t 0.2 -r 0 "$AGENT" 1.3.6.1.2.1.1.3.0 >/dev/null 2>&1 && break
  sleep 0.1
done

# Runs a command ROUNDS times; prints the best wall time and the CPU time (user + system) of
# that round, in seconds.
measure() {
  local best_wall= best_cpu= out
  for _ in $(seq "$ROUNDS"); do
    out=$( { TIMEFORMAT='%R %U %S'; time timeout "$LIMIT" "$@" >/dev/null 2>"$WORK/err"; } 2>&1 ) || {
      echo "tools_bench: failed: $*" >&2; cat "$WORK/err" >&2; exit 1; }
    read -r wall user sys <<<"$out"
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }')
    if [ -z "$best_wall" ] || awk -v a="$wall" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then
      best_wall=$wall
      best_cpu=$cpu
    fi
  done
  printf '%8.3f %8.3f' "$best_wall" "$best_cpu"
}

row() {  # label, command...
  local label=$1
  shift
  printf '  %-44s %s\n' "$label" "$(measure "$@")"
}

OBJECTS=$("$TOOL" walk -m "" -On "$AGENT" .1 | wc -l)
printf 'velk-snmp beside net-snmp (best of %d rounds; seconds; CPU = user + system of the client)\n' "$ROUNDS"
printf '  %-44s %8s %8s\n' "" "wall" "CPU"
printf 'Walk of snmpd'"'"'s whole tree (%d objects), numeric output, no MIB\n' "$OBJECTS"
row "velk-snmp walk --next (GetNext)" "$TOOL" walk -m "" -On --next "$AGENT" .1
row "snmpwalk" snmpwalk -v2c -c public -m "" -M "$MIBS" -On "$AGENT" .1
row "velk-snmp walk (GetBulk, 10 repetitions)" "$TOOL" walk -m "" -On "$AGENT" .1
row "snmpbulkwalk (10 repetitions)" snmpbulkwalk -v2c -c public -Cr10 -m "" -M "$MIBS" -On "$AGENT" .1
printf 'The same walks with names from the default MIB modules\n'
row "velk-snmp walk --next" env VELK_MIBDIRS="$MIBS" "$TOOL" walk --next "$AGENT" .1
row "snmpwalk" snmpwalk -v2c -c public -M "$MIBS" -m SNMPv2-MIB:IF-MIB:IP-MIB:TCP-MIB:UDP-MIB:HOST-RESOURCES-MIB "$AGENT" .1
row "velk-snmp walk" env VELK_MIBDIRS="$MIBS" "$TOOL" walk "$AGENT" .1
row "snmpbulkwalk" snmpbulkwalk -v2c -c public -M "$MIBS" -m SNMPv2-MIB:IF-MIB:IP-MIB:TCP-MIB:UDP-MIB:HOST-RESOURCES-MIB "$AGENT" .1

MODULES=$(ls "$MIBS" | grep -vc README)
printf 'Start-up of translate with the whole corpus (%d modules)\n' "$MODULES"
IMAGE=$WORK/corpus.bin
if "$TOOL" mib-image -M "$MIBS" -m ALL "$IMAGE" 2>"$WORK/image.err"; then
  :
else
  IMAGE=
fi
row "velk-snmp translate -m ALL (compiles)" "$TOOL" translate -M "$MIBS" -m ALL sysDescr.0
if [ -n "$IMAGE" ]; then
  row "velk-snmp translate --image" "$TOOL" translate --image "$IMAGE" sysDescr.0
else
  printf '  %-44s %s\n' "velk-snmp translate --image" "n/a: $(head -1 "$WORK/image.err")"
fi
row "snmptranslate -m ALL" snmptranslate -M "$MIBS" -m ALL -IR -On sysDescr.0
