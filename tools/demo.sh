#!/bin/sh
# Runs tmx against the bundled simulated LFS server on a scripted session and
# tells it as a story: before each scene the scenario says what happens next
# (its `say` lines), then come what the drivers do and what tmx answered, as
# the simulated server received it: chat lines, private messages and the
# buttons tmx drew on the drivers' screens, colour codes removed.
# Usage: tools/demo.sh [BUILD_DIR]   (called by `make demo`)
# The run ends by itself: in the scenario an admin types the kill-all command.
# The full records stay in the run directory: tmx.out (tmx's own console
# output) and lfs-sim.log (every step and every packet the simulator got).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-build}" && pwd)
PORT=${DEMO_PORT:-38999}
RUN=${DEMO_DIR:-"$ROOT/demo-run"}

# The story, made from lfs-sim's log as it comes: ">>" narration, "==" the
# steps (joins, chat typed, sessions), "--" the simulator's notes, "<-" the
# packets tmx sent. A text that a screen already shows is not told again, nor
# are the split times that come for every car every few seconds.
STORY='
function clean(s) {
    gsub(/\^[0-9]/, "", s)
    gsub(/  +/, " ", s)
    sub(/^ +/, "", s)
    sub(/ +$/, "", s)
    return s
}
# The quoted text at the end of a line (texts may hold quotes themselves).
function quoted(line,   i, s) {
    i = index(line, "\"")
    if (i == 0) return ""
    s = substr(line, i + 1)
    sub(/"$/, "", s)
    return s
}
function field(line, key,   n) {
    if (!match(line, " " key "=[^ ]*")) return ""
    n = length(key) + 2
    return substr(line, RSTART + n, RLENGTH - n)
}
function stamp(t) { return sprintf("%6.1fs  ", t) }
function wrap(text, indent,   n, i, w, line, out) {
    n = split(text, w, " ")
    line = ""
    out = ""
    for (i = 1; i <= n; i++) {
        if (line != "" && length(line) + 1 + length(w[i]) > 76 - length(indent)) {
            out = out indent line "\n"
            line = w[i]
        } else {
            line = line == "" ? w[i] : line " " w[i]
        }
    }
    return out indent line
}
function who(u) {
    if (u == "0") return "the host"
    return (u in name) ? name[u] : "connection " u
}
function recipients(k,   n, i, u, list, text) {
    n = split(grec[k], u, " ")
    for (i = 1; i <= n; i++) if (u[i] == "255") return "everyone"
    if (n > 1 && n == joined) return "everyone"
    text = ""
    for (i = 1; i <= n; i++) text = text (i == 1 ? "" : (i == n ? " and " : ", ")) who(u[i])
    return text
}
function say(text) {
    print text
    fflush()
}
# Prints what tmx sent at one moment, each text once with all who got it.
# Lines the story showed before (the welcome every newcomer gets) are
# summed up in one line when a recipient gets three or more of them.
function flush(   k, to, n, first, lastText) {
    for (k = 1; k <= gn; k++) {
        gto[k] = recipients(k)
        # Shown before, to someone else.
        grep[k] = ((gkind[k] SUBSEP gtext[k]) in shown) && shown[gkind[k], gtext[k]] != gto[k]
        if (grep[k]) again[gto[k]]++
    }
    for (k = 1; k <= gn; k++) {
        to = gto[k]
        if (!((gkind[k] SUBSEP gtext[k]) in shown)) shown[gkind[k], gtext[k]] = to
        if (grep[k] && again[to] >= 3) {
            if (!((to) in summed)) {
                n = 0
                for (i = k; i <= gn; i++) if (grep[i] && gto[i] == to) { n++; lastText = gtext[i] }
                say(stamp(gtime) "tmx -> " to ": the same " n " lines as " shown[gkind[k], gtext[k]] \
                    " got (\"" gtext[k] "\" ... \"" lastText "\")")
                summed[to] = 1
            }
            continue
        }
        if (gkind[k] == "chat") say(stamp(gtime) "tmx -> " to " (chat): " gtext[k])
        else if (gkind[k] == "all") say(stamp(gtime) "tmx -> server chat: " gtext[k])
        else if (gkind[k] == "cmd") say(stamp(gtime) "tmx -> host command: " gtext[k])
        else say(stamp(gtime) "tmx -> " (to == "everyone" ? "every screen" : "screen of " to) ": " gtext[k])
    }
    delete gi
    delete again
    delete summed
    gn = 0
}
function add(t, kind, u, text,   key, k) {
    if (gn > 0 && t - gtime > 0.05) flush()
    if (gn == 0) gtime = t
    key = kind SUBSEP text
    if (!(key in gi)) {
        gi[key] = ++gn
        gkind[gn] = kind
        gtext[gn] = text
        grec[gn] = ""
    }
    k = gi[key]
    if (index(" " grec[k] " ", " " u " ") == 0) grec[k] = grec[k] == "" ? u : grec[k] " " u
}
function unshow(u, id,   old) {
    if (!((u, id) in cur)) return
    old = cur[u, id]
    onscreen[u, old]--
    delete cur[u, id]
}
function clearscreen(u,   key, part) {
    for (key in cur) {
        split(key, part, SUBSEP)
        if (u == "255" || part[1] == u) unshow(part[1], part[2])
    }
}

done { next }
/^Emulated screens:/ { flush(); done = 1; next }
$2 == ">>" {
    flush()
    text = $0
    sub(/^ *[0-9.]+ >> /, "", text)
    say("")
    say(wrap(text, ""))
    next
}
$2 == "==" {
    # "== line N: [at T | after T] VERB ...": the step as the scenario has it.
    step = $0
    sub(/^ *[0-9.]+ == line [0-9]+: /, "", step)
    sub(/^(at|after) [^ ]+ /, "", step)
    split(step, word, " ")
    verb = word[1]
    if (verb == "join") {
        u = field($0, "ucid")
        nick = index($0, "pname=\"") ? $0 : ""
        if (nick != "") {
            sub(/.*pname="/, "", nick)
            sub(/".*/, "", nick)
        } else {
            nick = field($0, "uname")
        }
        if (!(u in name)) joined++
        name[u] = clean(nick)
        flush()
        say(stamp($1) name[u] " joins the server")
    } else if (verb == "leave") {
        u = field($0, "ucid")
        if (u in name) { delete name[u]; joined-- }
        clearscreen(u)
        flush()
        say(stamp($1) who(u) " leaves the server")
    } else if (verb == "chat") {
        flush()
        say(stamp($1) who(field($0, "ucid")) " types: " quoted($0))
    } else if (verb == "session") {
        flush()
        kind = word[2]
        laps = field($0, "laps")
        say(stamp($1) (kind == "race" ? "the race starts (" laps " laps)" : "a " kind " session starts"))
    } else if (verb == "spectate") {
        flush()
        say(stamp($1) who(field($0, "ucid")) " leaves the track")
    }
    next
}
$2 == "--" {
    flush()
    text = $0
    sub(/^ *[0-9.]+ -- /, "", text)
    say(stamp($1) "(lfs-sim: " text ")")
    next
}
$2 == "<-" && $3 == "IS_BFN" {
    u = field($0, "ucid")
    if ($4 == "BFN_DEL_BTN") unshow(u, field($0, "id"))
    else if ($4 == "BFN_CLEAR" || $4 == "BFN_USER_CLEAR") clearscreen(u)
    next
}
$2 == "<-" && $3 == "IS_BTN" {
    u = field($0, "ucid")
    id = field($0, "id")
    text = clean(quoted($0))
    if (text == "") { unshow(u, id); next }
    # New for this screen: not shown there now, nor the last text of this button.
    fresh = !(onscreen[u, text] > 0) && last[u, id] != text
    unshow(u, id)
    cur[u, id] = text
    onscreen[u, text]++
    last[u, id] = text
    # Split times and their differences come for every car every few seconds:
    # the lap times tell the story.
    if (text ~ /^(Sect|Diff)/ || text ~ /Sector [0-9]:/) next
    if (fresh) add($1, "screen", u, text)
    next
}
$2 == "<-" && $3 == "IS_MTC" {
    text = clean(quoted($0))
    if (text != "") add($1, "chat", field($0, "ucid"), text)
    next
}
$2 == "<-" && ($3 == "IS_MST" || $3 == "IS_MSX") {
    text = clean(quoted($0))
    if (text != "") add($1, substr(text, 1, 1) == "/" ? "cmd" : "all", "255", text)
    next
}
END { flush() }
'

rm -rf "$RUN"
mkdir -p "$RUN/languages"
cp "$ROOT"/languages/*.lng "$RUN/languages/"
cp "$ROOT/examples/server_0.cfg" "$RUN/"
# The sample server list, pointed at the simulator's port (CR LF line ends kept).
sed "s/^port [0-9]*/port $PORT/" "$ROOT/examples/tmx_server.cfg" > "$RUN/tmx_server.cfg"

cat <<EOF
Trackmarshal demo
=================
tmx, the Trackmarshal race director, runs against lfs-sim, a simulated Live
for Speed server on 127.0.0.1:$PORT that plays examples/demo.scn: drivers
join, practise and race, with a rolling start and a pit stop, until the admin
ends tmx. Lines with a time (seconds since the simulator started) are what
happened on the server: a driver typing, and "tmx -> ..." what tmx sent back
(chat to everyone, private messages, buttons on a driver's screen).
EOF
if [ ! -f "$RUN/tmx_db.rdb" ]; then
    cat <<EOF

This is a first run: there is no player database yet, so tmx reports that it
cannot open tmx_db.rdb (and, when it writes the first one at the end, that it
cannot back up the old one); that is expected. tmx's own console output goes
to $RUN/tmx.out.
EOF
fi

# lfs-sim's output goes to its log and, told as the story, to the terminal.
# Its process id is kept for the trap: $! of a pipeline is its last command.
# mawk reads a pipe in blocks unless it is told to read it line by line.
AWK=awk
if awk -W version 2>&1 | grep -q mawk; then AWK="awk -W interactive"; fi
(
    "$BUILD/lfs-sim" --port "$PORT" --password demo --keepalive 5 \
        --scenario "$ROOT/examples/demo.scn" --show-screen 2>&1 &
    echo $! > "$RUN/lfs-sim.pid"
    wait $! || echo $? > "$RUN/lfs-sim.failed"
) | tee "$RUN/lfs-sim.log" | $AWK "$STORY" &
STORY_PID=$!
trap 'kill $(cat "$RUN/lfs-sim.pid" 2>/dev/null) 2>/dev/null || true' EXIT INT TERM

# Wait until the simulator listens (at most 5 s).
i=0
until grep -q "simulated LFS server on" "$RUN/lfs-sim.log" 2>/dev/null; do
    i=$((i + 1))
    if [ $i -gt 50 ]; then
        echo "lfs-sim did not start:"; cat "$RUN/lfs-sim.log"; exit 1
    fi
    sleep 0.1
done

# tmx ends with "press key": standard input from /dev/null answers it.
tmx_status=0
(cd "$RUN" && timeout 180 "$BUILD/tmx" < /dev/null > "$RUN/tmx.out" 2>&1) || tmx_status=$?

if [ $tmx_status -ne 0 ]; then
    echo
    echo "tmx failed (exit code $tmx_status); the last lines of $RUN/tmx.out:"
    tail -n 20 "$RUN/tmx.out"
    exit 1
fi
wait $STORY_PID || true
trap - EXIT INT TERM
rm -f "$RUN/lfs-sim.pid"

echo
echo "The end"
echo "======="
if [ -f "$RUN/lfs-sim.failed" ]; then
    echo "The scenario did not run to its end (lfs-sim exit code $(cat "$RUN/lfs-sim.failed")):"
    grep "^lfs-sim" "$RUN/lfs-sim.log" || true
    exit 1
fi
cat <<EOF
tmx logged in to the simulated server, welcomed every driver, answered the
commands they typed, timed Alice's practice lap into the server ranking,
turned the next start into a rolling start for the admin, paced the formation
lap and warned Dana for overtaking, opened and closed the pit lane, followed
Carl's pit stop, summed up Alice's skill points and ended on the admin's
#KILLALL, sending $(grep -c ' <- ' "$RUN/lfs-sim.log") packets in all.

The full records of this run:
  $RUN/tmx.out
      tmx's own console output: its start-up, status line and shutdown.
  $RUN/lfs-sim.log
      every scenario step and every packet the simulator received, with what
      each connection's screen showed at the end.
EOF
