#!/bin/sh
# Runs tmx against the bundled simulated LFS server on a scripted session.
# Usage: tools/demo.sh [BUILD_DIR]   (called by `make demo`)
# The run ends by itself: in the scenario an admin types the kill-all command.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-build}" && pwd)
PORT=${DEMO_PORT:-38999}
RUN=${DEMO_DIR:-"$ROOT/demo-run"}

rm -rf "$RUN"
mkdir -p "$RUN/languages"
cp "$ROOT"/languages/*.lng "$RUN/languages/"
cp "$ROOT/examples/server_0.cfg" "$RUN/"
# The sample server list, pointed at the simulator's port (CR LF line ends kept).
sed "s/^port [0-9]*/port $PORT/" "$ROOT/examples/tmx_server.cfg" > "$RUN/tmx_server.cfg"

echo "== lfs-sim: simulated LFS server on 127.0.0.1:$PORT (log: $RUN/lfs-sim.log)"
"$BUILD/lfs-sim" --port "$PORT" --password demo --keepalive 5 \
    --scenario "$ROOT/examples/demo.scn" --show-screen > "$RUN/lfs-sim.log" 2>&1 &
SIM=$!
trap 'kill $SIM 2>/dev/null || true' EXIT INT TERM

# Wait until the simulator listens (at most 5 s).
i=0
until grep -q "simulated LFS server on" "$RUN/lfs-sim.log" 2>/dev/null; do
    i=$((i + 1))
    if [ $i -gt 50 ]; then
        echo "lfs-sim did not start:"; cat "$RUN/lfs-sim.log"; exit 1
    fi
    sleep 0.1
done

echo "== tmx (working directory $RUN)"
# tmx ends with "press key": standard input from /dev/null answers it.
(cd "$RUN" && timeout 180 "$BUILD/tmx" < /dev/null) || { echo "tmx failed"; exit 1; }

wait $SIM || true
trap - EXIT INT TERM
echo
echo "== what the simulated server received and showed"
cat "$RUN/lfs-sim.log"
