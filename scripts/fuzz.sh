#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs them one after another.
# Usage: scripts/fuzz.sh [-r RUNS] [-t SECONDS] [-b BUILDDIR] [-n] [TARGET...]
#   -r RUNS     inputs per target (default 1000000; 0: no limit, use with -t)
#   -t SECONDS  at most this long per target (default: no limit)
#   -b BUILDDIR the sanitizer build (default build-sanitize)
#   -n          run what is built, without configuring and building
#   TARGET      smart hive wql smtp manifest smart_sample cli_args winargs cp1252
#               translation device_answers (default: all)
# Seeds come from tests/fuzz/corpus/TARGET; inputs that reach new code are kept in
# BUILDDIR/fuzz-corpus/TARGET, a failing input in BUILDDIR/fuzz-artifacts/TARGET.
# The exit code is 1 when any target found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=1000000
seconds=0
build=build-sanitize
compile=1
while getopts "r:t:b:n" opt; do
  case "$opt" in
    r) runs="$OPTARG" ;;
    t) seconds="$OPTARG" ;;
    b) build="$OPTARG" ;;
    n) compile=0 ;;
    *) sed -n '2,14p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
all=(smart hive wql smtp manifest smart_sample cli_args winargs cp1252 translation device_answers nvme helper)
targets=("$@")
[ $# -gt 0 ] || targets=("${all[@]}")
[ "$runs" = 0 ] && runs=-1

if [ "$compile" = 1 ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSCANDOR_SANITIZE=ON -DSCANDOR_GUI=OFF -DSCANDOR_FUZZ=ON > /dev/null
  cmake --build "$build" --parallel 2 --target scandor_fuzz_all
fi

# The targets' scratch folders, and any a stopped target left behind.
case "$build" in /*) TMPDIR="$build/fuzz-tmp" ;; *) TMPDIR="$PWD/$build/fuzz-tmp" ;; esac
export TMPDIR
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"

failed=()
for t in "${targets[@]}"; do
  bin="$build/tests/fuzz/scandor_${t}_fuzz"
  [ -x "$bin" ] || { echo "no fuzz target $bin" >&2; exit 2; }
  corpus="$build/fuzz-corpus/$t"
  artifacts="$build/fuzz-artifacts/$t"
  mkdir -p "$corpus" "$artifacts"
  seeds=()
  [ -d "tests/fuzz/corpus/$t" ] && seeds=("tests/fuzz/corpus/$t")
  maxlen=4096
  [ "$t" = smart ] && maxlen=1200
  [ "$t" = nvme ] && maxlen=4200
  log="$build/fuzz-$t.log"
  if "$bin" -runs="$runs" -max_total_time="$seconds" -max_len="$maxlen" -timeout=10 \
       -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
       "$corpus" "${seeds[@]}" > "$log" 2>&1; then
    done_line=$(grep -E '^Done [0-9]+ runs' "$log" | tail -n 1 || true)
    echo "$t: ok, ${done_line:-$(grep -E 'stat::number_of_executed_units' "$log" | tail -n 1)}"
  else
    echo "$t: FAILED, see $log and $artifacts"
    tail -n 40 "$log"
    failed+=("$t")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzz targets with findings: ${failed[*]}"; exit 1; }
