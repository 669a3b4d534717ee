# Plumbing shared by the end-to-end scripts (sourced, not a test of its own):
# the two programs, a temporary folder, boards served by korvel-sim on a pty,
# and a clean-up at exit that leaves no process behind.

# e2e_setup KORVEL_CLI KORVEL_SIM: sets CLI, SIM and TMP; everything started
# through serve or track is ended at exit, then TMP is removed.
e2e_setup() {
    CLI=${1:-}
    SIM=${2:-}
    [ -x "$CLI" ] && [ -x "$SIM" ] || { echo "usage: $0 KORVEL_CLI KORVEL_SIM" >&2; exit 64; }
    TMP=$(mktemp -d)
    declare -gA E2E_BOARDS=() E2E_OTHERS=()
    E2E_LAST_BOARD=""
    trap e2e_cleanup EXIT
}

# The script's own background processes first (a korvel-cli still holding a
# port), then the boards.
e2e_cleanup() {
    local pid name
    for pid in "${!E2E_OTHERS[@]}"; do
        kill -TERM "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    for name in "${!E2E_BOARDS[@]}"; do
        kill -TERM "${E2E_BOARDS[$name]}" 2>/dev/null
        wait "${E2E_BOARDS[$name]}" 2>/dev/null
    done
    rm -rf "$TMP"
}

# fail MESSAGE: ends the script with 1, showing the log of the last board
# served.
fail() {
    echo "FAIL: $*" >&2
    if [ -n "${E2E_LAST_BOARD:-}" ] && [ -f "$TMP/$E2E_LAST_BOARD.log" ]; then
        echo "--- $E2E_LAST_BOARD.log" >&2
        cat "$TMP/$E2E_LAST_BOARD.log" >&2
    fi
    exit 1
}

# serve NAME MODEL [korvel-sim options]: serves a board on the pty link
# $TMP/NAME.port, its output going to $TMP/NAME.log; waits for the link.
serve() {
    local name=$1 model=$2
    shift 2
    rm -f "$TMP/$name.port"
    "$SIM" "$model" --link "$TMP/$name.port" "$@" >"$TMP/$name.log" 2>&1 &
    local pid=$!
    E2E_BOARDS[$name]=$pid
    E2E_LAST_BOARD=$name
    for _ in $(seq 100); do
        [ -e "$TMP/$name.port" ] && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    fail "korvel-sim $model for $name did not come up"
}

# unserve NAME: ends the board with SIGTERM and waits while it writes its
# dumps and summary.
unserve() {
    local pid=${E2E_BOARDS[$1]}
    unset "E2E_BOARDS[$1]"
    kill -TERM "$pid"
    wait "$pid" || fail "korvel-sim for $1 ended with $?"
}

# track PID: a background process of the script's own, ended at exit unless
# reaped before.
track() {
    E2E_OTHERS[$1]=1
}

# await_line FILE PATTERN PID: waits until a line of FILE matches PATTERN
# (grep -E), say the status that shows a run under way; fails when PID ends
# first or nothing matches within 30 s.
await_line() {
    local file=$1 pattern=$2 pid=$3
    for _ in $(seq 300); do
        grep -qE "$pattern" "$file" 2>/dev/null && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    grep -qE "$pattern" "$file" 2>/dev/null ||
        fail "no line '$pattern' in $file: $(cat "$file" 2>/dev/null)"
}

# reap PID: waits for a tracked process and returns its exit status.
reap() {
    local rc=0
    wait "$1" || rc=$?
    unset "E2E_OTHERS[$1]"
    return $rc
}
