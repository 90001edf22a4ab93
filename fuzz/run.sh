#!/usr/bin/env bash
# Builds the document fuzzer (clang, libFuzzer, ASan+UBSan) into build-fuzz/
# and runs it for a bounded time: bash fuzz/run.sh [SECONDS], default 120.
# Exits non-zero on any finding and says where the input that caused it is.
# The seed corpus is only read: new inputs go to a working copy.
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$PWD
SECONDS_TO_RUN=${1:-120}
BUILD=$ROOT/build-fuzz
WORK=$BUILD/corpus
ARTIFACTS=$BUILD/artifacts
LOG=$BUILD/fuzz.log

log() { echo "fuzz/run.sh: $*"; }

if ! [[ $SECONDS_TO_RUN =~ ^[0-9]+$ ]] || ((SECONDS_TO_RUN == 0)); then
  log "the run time must be a positive number of seconds, not '$SECONDS_TO_RUN'"
  exit 2
fi

# --- tools ------------------------------------------------------------------
packages=(clang libclang-rt-14-dev cmake ninja-build)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  if ((EUID != 0)); then
    log "missing packages: ${missing[*]} (run as root to install them)"
    exit 2
  fi
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# --- build ------------------------------------------------------------------
cmake -S "$ROOT" -B "$BUILD" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQOR_BUILD_FUZZ=ON -DQOR_SANITIZE=ON -DQOR_BUILD_TESTS=OFF -DQOR_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" --target xml_fuzzer >/dev/null

# --- corpus -----------------------------------------------------------------
# The working corpus keeps what earlier runs found; the seeds and every past
# regression are added to it each time.
mkdir -p "$WORK" "$ARTIFACTS"
cp -p "$ROOT"/fuzz/corpus/* "$WORK"/
find "$ROOT/fuzz/regressions" -maxdepth 1 -type f ! -name 'README*' -exec cp -p {} "$WORK"/ \;
rm -f "$ARTIFACTS"/*

# --- run --------------------------------------------------------------------
log "fuzzing for ${SECONDS_TO_RUN}s (log: $LOG)"
status=0
UBSAN_OPTIONS=print_stacktrace=1 "$BUILD/fuzz/xml_fuzzer" \
  -dict="$ROOT/fuzz/xml.dict" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -max_total_time="$SECONDS_TO_RUN" -print_final_stats=1 \
  -artifact_prefix="$ARTIFACTS/" "$WORK" >"$LOG" 2>&1 || status=$?

findings=("$ARTIFACTS"/*)
if ((status != 0)) || [[ -e ${findings[0]} ]]; then
  tail -n 60 "$LOG"
  log "FINDING (fuzzer exit status $status); the input that caused it:"
  for f in "${findings[@]}"; do [[ -e $f ]] && echo "  $f"; done
  log "copy it into fuzz/regressions/ so the replay test keeps it"
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$LOG" || true
log "no finding in ${SECONDS_TO_RUN}s; working corpus: $(find "$WORK" -type f | wc -l) inputs"
