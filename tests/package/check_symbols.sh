#!/bin/sh
# The library exports its API and nothing else: every defined external
# symbol is in qor:: (or the type data of its classes), none is the tool's
# own code, and nothing installs signal handlers.
#
# check_symbols.sh LIBRARY   (libqorxml.a or libqorxml.so.N)
set -eu
library=$1
fail() { echo "check_symbols: $library: $*" >&2; exit 1; }
command -v nm >/dev/null 2>&1 || { echo "check_symbols: no nm"; exit 77; }

case $library in
  *.a) # Weak ones are copies of inline and template code any user may make.
       defined=$(nm -C -g --defined-only "$library" | grep -E '^[0-9a-f]+ [TDBR] ' || true)
       undefined=$(nm -g --undefined-only "$library") ;;
  *) defined=$(nm -C -D --defined-only "$library")
     undefined=$(nm -D --undefined-only "$library") ;;
esac
names=$(printf '%s\n' "$defined" | sed -E 's/^[0-9a-f]* *[A-Za-z] //' | sort -u)

outside=$(printf '%s\n' "$names" | grep -Ev \
  '^((typeinfo|typeinfo name|vtable) for )?qor::|^(_init|_fini|_edata|_end|__bss_start)$|^$' || true)
tool=$(printf '%s\n' "$names" | grep -E \
  'clOutputFile|clInputFile|clPlace|replaceOutputFile|runUpgrade|clBusErrorExit|prepareProcess|endOnBusError' || true)
signals=$(printf '%s\n' "$undefined" | grep -Ew 'signal|sigaction' || true)

[ -z "$outside" ] || echo "defined outside qor::: $outside" >&2
[ -z "$tool" ] || echo "the tool's code: $tool" >&2
[ -z "$signals" ] || echo "signal handling: $signals" >&2
[ -z "$outside$tool$signals" ] || fail "exports more than its API"
