# shellcheck shell=bash
# Shared by the benchmark scripts: best-of-N wall-clock timing.

# best_of N CMD...: runs CMD N times (output discarded) and prints the best wall time in seconds.
best_of() {
    local n=$1 best="" t0 t1 t i
    shift
    for ((i = 0; i < n; i++)); do
        t0=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        t1=$(date +%s.%N)
        t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
        if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
    done
    echo "$best"
}
