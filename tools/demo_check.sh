#!/bin/sh
# Runs the demo (tools/demo.sh) and checks that it shows what it is meant to:
# a driver who joins is welcomed, a typed command is answered, a timed lap
# shows its sector and lap times and enters the server ranking, #top lists
# it, the admin's
# #nextstart makes the race start rolling, the formation lap is paced with
# instructions and a driver who overtakes is warned, race control announces
# the sessions, opens the pit lane and follows a pit stop, and the admin's
# kill-all is announced on the server and ends tmx. The simulator's log and
# tmx's output (tmx.out) are checked for that; the terminal for the story
# told from them: the first-run note, the scenes in order with what tmx
# answered, and the closing summary, without tmx's raw console lines.
# Usage: tools/demo_check.sh [BUILD_DIR]   (the demo_scenario test)
# Exit code 0 when everything was seen, 1 otherwise.
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUN=${DEMO_DIR:-"$ROOT/demo-run"}
export DEMO_DIR="$RUN"
OUT=$(mktemp)
trap 'rm -f "$OUT"' EXIT INT TERM

sh "$ROOT/tools/demo.sh" "${1:-build}" > "$OUT" 2>&1
status=$?
cat "$OUT"
echo
echo "== checking the demo"

failed=0
if [ $status -ne 0 ]; then
    echo "MISSING: the demo ended with exit code $status"
    failed=1
fi

# in_order WHAT FILE TEXT...: each TEXT occurs in FILE, on a line after the
# line of the TEXT before it (plain text, no patterns).
in_order() {
    what=$1
    file=$2
    shift 2
    if [ ! -f "$file" ]; then
        echo "MISSING: $what: $file was not written"
        failed=1
        return
    fi
    if missing=$(printf '%s\n' "$@" | awk '
            NR == FNR { want[++n] = $0; next }
            k < n && index($0, want[k + 1]) > 0 { k++ }
            END { if (k < n) { print want[k + 1]; exit 1 } }' - "$file"); then
        echo "ok: $what"
    else
        echo "MISSING: $what: no line with [$missing] where expected in $file"
        failed=1
    fi
}

SIM_LOG="$RUN/lfs-sim.log"
in_order "Alice is welcomed when she joins" "$SIM_LOG" \
    'join ucid=1 uname=alice' \
    '<- IS_MTC ucid=1 plid=0 "^2LFS Trackmarshal is running"'
in_order "Bob's #help is answered with the user commands" "$SIM_LOG" \
    'chat ucid=2 text="#help"' \
    '<- IS_MTC ucid=2 plid=0 "^2UserCommands:"'
in_order "Alice's timed practice lap: sector and lap times, a personal best entering the ranking, Bob's #top" "$SIM_LOG" \
    'session practice' \
    '<- IS_BTN ucid=1 id=150 inst=0 style=67 L=0 T=70 W=100 H=5 "^7Sect:  ' \
    '<- IS_BTN ucid=1 id=160 inst=0 style=67 L=0 T=60 W=100 H=5 "^7Lap   : ' \
    '"^1Alice^7 is the new fastest driver on this server!"' \
    'chat ucid=2 text="#top"' \
    '<- IS_MTC ucid=2 plid=0 "^7ServerRanking for BL1"' \
    '<- IS_MTC ucid=2 plid=0 "^71. : 0:10:'
in_order "the admin asks for a rolling start" "$SIM_LOG" \
    'chat ucid=3 text="#nextstart rs"' \
    '<- IS_MTC ucid=3 plid=0 "^7OK, next start will be a rolling-start"'
in_order "rolling start: pace instructions, Dana overtakes and is warned, the race starts at the line" "$SIM_LOG" \
    'session race laps=4' \
    '"^3Rolling start - follow the pace instructions!"' \
    'ucid=5 id=139 inst=0 style=1 L=50 T=185 W=100 H=8 "^7Grid place 4 - follow ^2Carl"' \
    'car ucid=5 drive speed=125' \
    'ucid=5 id=139 inst=0 style=1 L=50 T=185 W=0 H=0 "^3Let ^2Carl^3 pass"' \
    '<- IS_BTN ucid=5 id=133 inst=0 style=1 L=50 T=67 W=100 H=8 "^1Warning: follow your pace instruction!"' \
    'ucid=5 id=139 inst=0 style=1 L=50 T=185 W=0 H=0 "^7Follow ^2Carl"' \
    '"^3The start is near - get ready!"' \
    '"^2Go! Go! Go!"' \
    '"^2Rolling start complete - race on!"'
in_order "race control: session texts, the pit lane opening after two laps, Carl's stop" "$SIM_LOG" \
    'session practice' \
    '"^7Practice has started"' \
    'session race laps=4' \
    '"^2The race has started - drive fair!"' \
    '"^3Orga: The pitlane is open now!"' \
    '"^3Pit stop done - go go go!"'
in_order "the kill-all is announced before the link is closed" "$SIM_LOG" \
    'chat ucid=3 text="#KILLALL"' \
    '<- IS_MST "^1TMX is killed by admin"' \
    '<- IS_TINY TINY_CLOSE' \
    'lfs-sim: scenario ended'
in_order "tmx reports the kill-all and ends" "$RUN/tmx.out" \
    'MCP: Got a KILLALL. Terminating all tmx!' \
    'Server 0: TMX is killed by admin' \
    'TMX is ready for termination.' \
    'press key'
in_order "the terminal tells the story, scene by scene" "$OUT" \
    'This is a first run: there is no player database yet' \
    'Scene 1: Trackmarshal (tmx) connects.' \
    'tmx -> server chat: The LFS-Trackmarshal (TMX) is controlling this server!' \
    'Scene 2: practice.' \
    'Alice joins the server' \
    'tmx -> Alice (chat): LFS Trackmarshal is running' \
    'tmx -> Bob: the same 12 lines as Alice got' \
    'Bob types: #help' \
    'tmx -> Bob (chat): UserCommands:' \
    'Scene 3: the admin types #nextstart rs' \
    'tmx -> Admin (chat): OK, next start will be a rolling-start' \
    'Scene 4: a timed lap.' \
    'tmx -> screen of Alice: Lap : 0:10:' \
    'tmx -> every screen: Alice is the new fastest driver on this server!' \
    'Bob types: #top' \
    'tmx -> Bob (chat): 1. : 0:10:' \
    'Scene 5: the rolling start.' \
    'tmx -> screen of Dana: Grid place 4 - follow Carl' \
    'tmx -> screen of Dana: Let Carl pass' \
    'tmx -> screen of Dana: Warning: follow your pace instruction!' \
    'tmx -> screen of Dana: Follow Carl' \
    'Scene 6: the start.' \
    'tmx -> every screen: Go! Go! Go!' \
    'Scene 7: three racing laps.' \
    'tmx -> every screen: Orga: The pitlane is open now!' \
    'tmx -> screen of Carl: Pit stop done - go go go!' \
    'Scene 8: the flag.' \
    'tmx -> Alice (chat): SKILLSYSTEM' \
    'Scene 9: the admin types #KILLALL.' \
    'Admin types: #KILLALL' \
    'tmx -> server chat: TMX is killed by admin' \
    'The end' \
    "$RUN/tmx.out" \
    "$RUN/lfs-sim.log"
# tmx's console (the spinner, the start-up lines) stays in tmx.out.
raw_shown=
for raw in 'MCP: TmxStatus' "Couldn't open databasefile" 'press key'; do
    grep -qF "$raw" "$OUT" && raw_shown="$raw_shown [$raw]"
done
if [ -z "$raw_shown" ]; then
    echo "ok: tmx's own console stays in tmx.out"
else
    echo "MISSING: a terminal without tmx's console; it shows$raw_shown"
    failed=1
fi

exit $failed
