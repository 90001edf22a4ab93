#!/usr/bin/env bash
# Opt-in check of a file past 2 GiB: patches a movie description holding one
# huge base64 element and verifies the output's size and checksum against
# the bytes it must hold. Prints the tool's time and peak memory.
# Usage: bash tests/large_file_check.sh [payload-bytes] (default 2.2 GiB)
set -euo pipefail
cd "$(dirname "$0")/.."
payload=${1:-2362232012}
work=$(mktemp -d "${TMPDIR:-/tmp}/swf_large.XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j2 --target swfupgrade >/dev/null
command -v /usr/bin/time >/dev/null || apt-get install -y -qq time >/dev/null

body() { head -c "$payload" /dev/zero | tr '\0' 'Q'; }
{
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<swf version="8">\n<FileAttributes useNetwork="1"/>\n<data>'
  body
  printf '</data>\n</swf>\n'
} >"$work/in.xml"

expected() {
  printf '<?xml version="1.0" encoding="UTF-8"?>\n\n  <swf version="10">\n'
  printf '    <FileAttributes useNetwork="1" allowABC="1"/>\n    <data>\n'
  body
  printf '\n    </data>\n  </swf>\n'
}
want_sum=$(expected | sha256sum | cut -d' ' -f1)
want_size=$(expected | wc -c)

/usr/bin/time -f '%e %M' -o "$work/time" ./build-release/swfupgrade "$work/in.xml" "$work/out.xml"
read -r seconds peak_kb <"$work/time"
got_size=$(stat -c %s "$work/out.xml")
got_sum=$(sha256sum "$work/out.xml" | cut -d' ' -f1)
in_size=$(stat -c %s "$work/in.xml")

echo "input ${in_size} bytes, output ${got_size} bytes (expected ${want_size})"
echo "time ${seconds} s, peak memory $((peak_kb / 1024)) MiB ($(awk -v p="$peak_kb" -v s="$in_size" 'BEGIN{printf "%.2f", p*1024/s}')x the input)"
[[ "$got_size" == "$want_size" && "$got_sum" == "$want_sum" ]] || { echo "large file check: FAILED"; exit 1; }
left=$(find "$work" -maxdepth 1 -name 'out.xml.*.tmp' | head -n1)
[[ -z "$left" ]] || { echo "large file check: temporary file left: $left"; exit 1; }
echo "large file check: passed"
