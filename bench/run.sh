#!/usr/bin/env bash
# shellcheck disable=SC2059  # one printf format is shared by the header and the rows
# Times swfupgrade against cp and pugixml on generated SWF XML inputs.
#
#   bash bench/run.sh [size-in-MB ...]        (default: 10 200 1000)
#
# Each figure is the median of several runs (BENCH_RUNS overrides the count).
# Inputs are kept in bench/data/ for the next run; outputs are removed.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
data=bench/data
mkdir -p "$data"
log=$data/build.log
: >"$log"

sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10 200 1000)
for s in "${sizes[@]}"; do
    [[ $s =~ ^[0-9]+([.][0-9]+)?$ ]] || { echo "not a size in MB: $s"; exit 2; }
done

is_root() { [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; }
apt_install() {
    apt-get install -y -qq "$@" >>"$log" 2>&1 ||
        { apt-get update -qq >>"$log" 2>&1 && apt-get install -y -qq "$@" >>"$log" 2>&1; }
}

if [ ! -x /usr/bin/time ]; then
    if is_root; then
        echo "installing GNU time"
        apt_install time || true
    fi
    [ -x /usr/bin/time ] || { echo "/usr/bin/time is missing: install the Debian package 'time'"; exit 1; }
fi
if ! dpkg -s libpugixml-dev >/dev/null 2>&1 && is_root; then
    echo "installing libpugixml-dev"
    apt_install libpugixml-dev || echo "note: libpugixml-dev could not be installed"
fi

# Build only what is timed, so work in progress elsewhere (tests) cannot block it;
# a target that fails to build is not used, so no stale binary is timed.
tool=""
tool_note=""
bench_bin=""
built() { cmake --build build-release -j2 --target "$1" >>"$log" 2>&1; }
echo "building Release into build-release/ (log: $log)"
if [ -f CMakeLists.txt ] &&
    cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release >>"$log" 2>&1; then
    if built swfupgrade && [ -x build-release/swfupgrade ]; then
        tool=$root/build-release/swfupgrade
    else
        tool_note="build-release/swfupgrade could not be built (see $log)"
    fi
    if built gen_swf_xml && [ -x build-release/bench/gen_swf_xml ]; then
        bench_bin=build-release/bench
        built pugixml_job || rm -f build-release/bench/pugixml_job
    fi
else
    tool_note="project does not configure (see $log)"
fi
if [ -z "$bench_bin" ]; then
    echo "note: building bench helpers alone into build-release-bench/"
    if ! { cmake -S bench -B build-release-bench -DCMAKE_BUILD_TYPE=Release >>"$log" 2>&1 &&
        cmake --build build-release-bench -j2 >>"$log" 2>&1; }; then
        echo "bench helpers failed to build:"
        tail -20 "$log"
        exit 1
    fi
    bench_bin=build-release-bench
fi
gen=$root/$bench_bin/gen_swf_xml
pugi=""
[ -x "$bench_bin/pugixml_job" ] && pugi=$root/$bench_bin/pugixml_job

tfile=$(mktemp)
trap 'rm -f "$tfile"' EXIT

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# once OUT CMD...: runs CMD once; sets wall_us and peak_kb; fails if the run fails.
once() {
    local out=$1 t0 t1
    shift
    rm -f "$out" "$out.tmp"
    t0=$(date +%s%N)
    /usr/bin/time -f '%M' -o "$tfile" "$@" >"$data/run.log" 2>&1 || return 1
    t1=$(date +%s%N)
    wall_us=$(((t1 - t0) / 1000))
    peak_kb=$(tail -n 1 "$tfile")
}

# run PROG: one run of cp, pugixml_job or swfupgrade from $in to $out.
run() {
    case $1 in
    cp) once "$out" cp "$in" "$out" ;;
    pugixml_job) once "$out" "$pugi" "$in" "$out" ;;
    swfupgrade) once "$out" "$tool" "$in" "$out" ;;
    esac
}

# A run that exits 0 must also have written the patched document.
patched() { [ -s "$1" ] && grep -q -m 1 'allowABC="1"' "$1"; }

# ratio A B: A/B as "1.23x", or "-" when B is unknown.
ratio() {
    if [ -n "$2" ]; then awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2fx", a / b }'; else echo "-"; fi
}

fmt="%-8s  %-12s  %4s  %9s  %8s  %9s  %10s  %8s  %10s  %10s\n"
rows=()
declare -A wall_of=() # size,program -> median wall time in microseconds
row() { rows+=("$(printf "$fmt" "$@")"); }

for size in "${sizes[@]}"; do
    in=$data/swf_${size}MB.xml
    out=$data/out_${size}MB.xml
    if [ ! -s "$in" ] || [ "$gen" -nt "$in" ]; then
        echo "generating $in"
        "$gen" "$in" "$size" || { echo "generator failed for $size MB"; exit 1; }
    fi
    bytes=$(stat -c %s "$in")
    runs=${BENCH_RUNS:-$(awk -v s="$size" 'BEGIN { print (s >= 1000 ? 3 : 5) }')}
    cat "$in" >/dev/null # warm the page cache for every contender alike

    declare -A walls=() peaks=() us=() kb=() note=()
    [ -n "$pugi" ] || note[pugixml_job]="skipped: pugixml_job not built (pugixml not found)"
    [ -n "$tool" ] || note[swfupgrade]="skipped: $tool_note"
    echo "timing $in ($bytes bytes, $runs runs each after one untimed)"
    # Each program's runs come back to back after a run that is not timed,
    # so none is timed in the wake of another (gigabytes just freed, pages
    # still being written), as in a batch of files.
    for prog in cp pugixml_job swfupgrade; do
        [ -z "${note[$prog]:-}" ] || continue
        for ((i = 0; i <= runs; i++)); do
            if ! run "$prog" || { [ "$prog" != cp ] && ! patched "$out"; }; then
                note[$prog]="failed: $(tail -n 1 "$data/run.log")"
                break
            fi
            if ((i > 0)); then
                walls[$prog]+=" $wall_us"
                peaks[$prog]+=" $peak_kb"
            fi
        done
    done
    for prog in cp pugixml_job swfupgrade; do
        [ -z "${note[$prog]:-}" ] || continue
        # shellcheck disable=SC2086
        us[$prog]=$(median ${walls[$prog]})
        # shellcheck disable=SC2086
        kb[$prog]=$(median ${peaks[$prog]})
    done
    rm -f "$out" "$out.tmp"

    for prog in cp pugixml_job swfupgrade; do
        if [ -z "${us[$prog]:-}" ]; then
            rows+=("$(printf "%-8s  %-12s  %s" "${size} MB" "$prog" "${note[$prog]}")")
            continue
        fi
        read -r wall mbps peak mult < <(awk -v u="${us[$prog]}" -v k="${kb[$prog]}" -v b="$bytes" \
            'BEGIN { printf "%.3f %.0f %.1f %.2fx\n", u / 1e6, b / u, k * 1024 / 1e6, k * 1024 / b }')
        row "${size} MB" "$prog" "$runs" "$wall" "$mbps" "$peak" "$mult" \
            "$(ratio "${us[$prog]}" "${us[cp]:-}")" "$(ratio "${us[$prog]}" "${us[pugixml_job]:-}")" \
            "$(ratio "${kb[$prog]}" "${kb[pugixml_job]:-}")"
    done
    for prog in cp pugixml_job swfupgrade; do wall_of[$size,$prog]=${us[$prog]:-}; done
    unset walls peaks us kb note
done

echo
printf "$fmt" input program runs "wall [s]" "MB/s" "peak [MB]" "peak/input" "time/cp" "time/pugi" "peak/pugi"
printf "$fmt" -------- ------------ ---- --------- -------- --------- ---------- -------- ---------- ----------
printf '%s\n' "${rows[@]}"
echo
# How each program's time grows from one input size to the next, against
# the growth of the input itself.
for ((i = 1; i < ${#sizes[@]}; i++)); do
    a=${sizes[i - 1]} b=${sizes[i]}
    line=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "time growth %s MB -> %s MB (input %.2fx):", a, b, b / a }')
    for prog in cp pugixml_job swfupgrade; do
        ta=${wall_of[$a,$prog]:-} tb=${wall_of[$b,$prog]:-}
        [ -n "$ta" ] && [ -n "$tb" ] && line+=" $prog $(ratio "$tb" "$ta")"
    done
    echo "$line"
done
echo
echo "medians; MB = 10^6 bytes; peak = maximum resident set size; time/cp, time/pugi and"
echo "peak/pugi compare each row with cp and pugixml_job on the same input"
