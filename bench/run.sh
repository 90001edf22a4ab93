#!/usr/bin/env bash
# shellcheck disable=SC2059  # one printf format is shared by the header and the rows
# Times swfupgrade against pugixml (and cp) on SWF XML inputs.
#
#   bash bench/run.sh [input ...]     (default: sample 0.1 1 10 200 1000 batch)
#
# An input is "sample" (examples/movie.xml), a size in MB (a generated file) or
# "batch" (1,000 generated files of varied sizes, upgraded two at a time with
# xargs -P2). The programs run in turn - swfupgrade, pugixml_job, cp, and again -
# after one untimed round; each figure is the median of several rounds
# (BENCH_RUNS overrides the count). A small file is run many times back to back
# per round and the figures are per run. Inputs are kept in bench/data/ for the
# next time; outputs are removed.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
data=bench/data
mkdir -p "$data"
log=$data/build.log
: >"$log"

inputs=("$@")
[ ${#inputs[@]} -gt 0 ] || inputs=(sample 0.1 1 10 200 1000 batch)
for s in "${inputs[@]}"; do
    [[ $s =~ ^([0-9]+([.][0-9]+)?|sample|batch)$ ]] || { echo "not an input (sample, batch or a size in MB): $s"; exit 2; }
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

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# once CMD...: runs CMD once under GNU time; sets wall_s, cpu_s and peak_kb
# (the largest process among those CMD waited for); fails if CMD fails.
once() {
    local t0 t1
    t0=$(date +%s%N)
    /usr/bin/time -f '%U %S %M' -o "$tfile" "$@" >"$data/run.log" 2>&1 || return 1
    t1=$(date +%s%N)
    read -r user sys peak_kb < <(tail -n 1 "$tfile")
    wall_s=$(awk -v n=$((t1 - t0)) 'BEGIN { printf "%.6f", n / 1e9 }')
    cpu_s=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
}

# unit PROG: one timed round of PROG on the current input: $reps runs back to
# back from $in to $out, or the whole batch two files at a time.
unit() {
    local bin
    case $1 in
    cp) bin="cp" ;;
    pugixml_job) bin=$pugi ;;
    swfupgrade) bin=$tool ;;
    esac
    if [ "$kind" = batch ]; then
        rm -rf "$out" && mkdir -p "$out"
        once xargs -P2 -n2 "$bin" <"$list"
    else
        rm -f "$out" "$out".*.tmp
        # shellcheck disable=SC2016  # expanded by the inner shell
        once sh -c 'i=0; while [ $i -lt "$1" ]; do "$2" "$3" "$4" || exit 1; i=$((i + 1)); done' \
            sh "$reps" "$bin" "$in" "$out"
    fi
}

# A round that exits 0 must also have written the patched document(s).
patched() {
    if [ "$kind" = batch ]; then
        [ "$(find "$out" -name '*.xml' -size +0 | wc -l)" = "$files" ] &&
            [ "$(grep -l -m 1 'allowABC="1"' "$out"/*.xml | wc -l)" = "$files" ]
    else
        [ -s "$out" ] && grep -q -m 1 'allowABC="1"' "$out"
    fi
}

# ratio A B: A/B as "1.23x", or "-" when B is unknown or zero.
ratio() {
    if [ -n "$2" ]; then awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "-" }'; else echo "-"; fi
}

fmt="%-11s  %-12s  %-7s  %10s  %10s  %9s  %10s  %9s  %9s  %9s\n"
rows=()
declare -A wall_of=() # input,program -> median wall time per run in seconds
row() { rows+=("$(printf "$fmt" "$@")"); }
programs=(swfupgrade pugixml_job cp)

for name in "${inputs[@]}"; do
    kind="file"
    case $name in
    sample)
        in=examples/movie.xml
        label="2 KB sample"
        ;;
    batch)
        kind="batch"
        files=1000
        in=$data/batch
        if [ ! -f "$in/done" ] || [ "$gen" -nt "$in/done" ]; then
            echo "generating $in ($files files)"
            rm -rf "$in" && mkdir -p "$in"
            "$gen" --batch "$in" "$files" || { echo "generator failed for the batch"; exit 1; }
            touch "$in/done"
        fi
        out=$data/batch_out
        list=$data/batch.list
        for f in "$in"/movie_*.xml; do printf '%s %s\n' "$f" "$out/${f##*/}"; done >"$list"
        label="batch"
        ;;
    *)
        in=$data/swf_${name}MB.xml
        if [ ! -s "$in" ] || [ "$gen" -nt "$in" ]; then
            echo "generating $in"
            "$gen" "$in" "$name" || { echo "generator failed for $name MB"; exit 1; }
        fi
        label="${name} MB"
        ;;
    esac
    [ "$kind" = batch ] || out=$data/out.xml
    if [ "$kind" = batch ]; then
        bytes=$(cat "$in"/movie_*.xml | wc -c) # also warms the page cache for every program alike
    else
        bytes=$(wc -c <"$in")
        cat "$in" >/dev/null # warm the page cache for every program alike
    fi
    [ "$kind" = batch ] && per=$files || per=1
    # Rounds of about a quarter second at least, so start-up is timed fairly.
    reps=$(awk -v b="$bytes" -v k="$kind" 'BEGIN {
        if (k == "batch") { print 1; exit }
        r = int(0.25 / (0.0015 + 5e-9 * b)); print (r < 1 ? 1 : r > 200 ? 200 : r) }')
    runs=${BENCH_RUNS:-$(awk -v b="$bytes" 'BEGIN { print (b >= 5e8 ? 3 : 5) }')}

    declare -A walls=() cpus=() peaks=() wall=() cpu=() kb=() note=()
    [ -n "$pugi" ] || note[pugixml_job]="skipped: pugixml_job not built (pugixml not found)"
    [ -n "$tool" ] || note[swfupgrade]="skipped: $tool_note"
    if [ "$kind" = batch ]; then
        echo "timing $label ($files files, $bytes bytes), $runs rounds after one untimed"
    else
        echo "timing $in ($bytes bytes), $runs rounds of $reps runs after one untimed"
    fi
    for ((i = 0; i <= runs; i++)); do
        for prog in "${programs[@]}"; do
            [ -z "${note[$prog]:-}" ] || continue
            if ! unit "$prog" || { [ "$prog" != cp ] && ! patched; }; then
                note[$prog]="failed: $(tail -n 1 "$data/run.log")"
                continue
            fi
            if ((i > 0)); then
                walls[$prog]+=" $wall_s"
                cpus[$prog]+=" $cpu_s"
                peaks[$prog]+=" $peak_kb"
            fi
        done
    done
    rm -rf "$out" "$out".*.tmp
    for prog in "${programs[@]}"; do
        [ -z "${note[$prog]:-}" ] || continue
        # shellcheck disable=SC2086
        wall[$prog]=$(awk -v t="$(median ${walls[$prog]})" -v r="$reps" 'BEGIN { printf "%.6f", t / r }')
        # shellcheck disable=SC2086
        cpu[$prog]=$(awk -v t="$(median ${cpus[$prog]})" -v r="$reps" 'BEGIN { printf "%.6f", t / r }')
        # shellcheck disable=SC2086
        kb[$prog]=$(median ${peaks[$prog]})
    done

    for prog in "${programs[@]}"; do
        if [ -z "${wall[$prog]:-}" ]; then
            rows+=("$(printf "%-11s  %-12s  %s" "$label" "$prog" "${note[$prog]}")")
            continue
        fi
        read -r w c peak mult < <(awk -v w="${wall[$prog]}" -v c="${cpu[$prog]}" -v k="${kb[$prog]}" \
            -v b="$bytes" -v n="$per" \
            'BEGIN { printf "%.4f %.4f %.1f %.2fx\n", w, c, k * 1024 / 1e6, k * 1024 / (b / n) }')
        row "$label" "$prog" "${runs}x$reps" "$w" "$c" "$peak" "$mult" \
            "$(ratio "${wall[$prog]}" "${wall[pugixml_job]:-}")" \
            "$(ratio "${cpu[$prog]}" "${cpu[pugixml_job]:-}")" \
            "$(ratio "${kb[$prog]}" "${kb[pugixml_job]:-}")"
    done
    for prog in "${programs[@]}"; do wall_of[$name,$prog]=${wall[$prog]:-}; done
    unset walls cpus peaks wall cpu kb note
done

echo
printf "$fmt" input program rounds "wall [s]" "cpu [s]" "peak [MB]" "peak/input" "wall/pugi" "cpu/pugi" "peak/pugi"
printf "$fmt" ----------- ------------ ------- ---------- ---------- --------- ---------- --------- --------- ---------
printf '%s\n' "${rows[@]}"
echo
# How each program's time grows from one generated size to the next, against
# the growth of the input itself.
prev=""
for name in "${inputs[@]}"; do
    [[ $name =~ ^[0-9] ]] || continue
    if [ -n "$prev" ]; then
        line=$(awk -v a="$prev" -v b="$name" 'BEGIN { printf "time growth %s MB -> %s MB (input %.2fx):", a, b, b / a }')
        for prog in "${programs[@]}"; do
            ta=${wall_of[$prev,$prog]:-} tb=${wall_of[$name,$prog]:-}
            [ -n "$ta" ] && [ -n "$tb" ] && line+=" $prog $(ratio "$tb" "$ta")"
        done
        echo "$line"
    fi
    prev=$name
done
echo
echo "medians of rounds run in turn; wall and cpu (user + system) per run, for the batch"
echo "for all of it; MB = 10^6 bytes; peak = largest resident set of one process; for the"
echo "batch peak/input is against the mean file; wall/pugi, cpu/pugi and peak/pugi compare"
echo "each row with pugixml_job on the same input"
