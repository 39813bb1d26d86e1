#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target on a fresh corpus in a
# temporary directory (seeded from Tests/Fuzz/<Target>/ when there is one),
# with the dictionary Tests/Fuzz/<Target>.dict when there is one. Two ways:
#
#   fuzz.sh [SECONDS]                     each target for SECONDS (default 60), one
#                                         after the other: what CI runs
#   fuzz.sh --runs N [--engine-runs M]    a campaign: each target for N executions
#                                         (PrintLibFuzz for M, default N), QEL_JOBS
#                                         targets side by side; a line per target
#                                         with executions, rate, coverage, findings
#   ... [TARGET...]                       only the targets named (either way)
#
# Fails on any finding; the reproducer is kept in <build>/findings. The build
# folder is build/fuzz unless QEL_FUZZ_BUILD names another.
set -euo pipefail
cd "$(dirname "$0")/.."
source Tools/common.sh
usage() { sed -n '/^#   fuzz.sh/,/^#$/p' "$0" | cut -c3- >&2; exit 2; }
seconds=60
wanted=()
runs=""
engine_runs=""
while (($#)); do
  case $1 in
    --runs) [[ ${2:-} =~ ^[0-9]+$ ]] || usage; runs=$2; shift 2 ;;
    --engine-runs) [[ ${2:-} =~ ^[0-9]+$ ]] || usage; engine_runs=$2; shift 2 ;;
    -h|--help) usage ;;
    [0-9]*) [[ $1 =~ ^[0-9]+$ ]] || usage; seconds=$1; shift ;;
    -*) usage ;;
    *) wanted+=("$1"); shift ;;
  esac
done
[[ -z $engine_runs || -n $runs ]] || usage

build=${QEL_FUZZ_BUILD:-build/fuzz}
echo "== building the fuzz targets ($build)"
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j "$(qel_jobs)" 2>&1 | { grep --line-buffered -E '^\[ *[0-9]+%\] Built target|error|Error' || true; }
[[ ${PIPESTATUS[0]} -eq 0 ]] || exit 1
mkdir -p "$build/findings"
findings=$(cd "$build/findings" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Leak checking needs ptrace, which the user-mode emulator does not offer
# (it hangs at exit). With the default quarantine the 32-bit heap grows until
# the emulator maps memory where AddressSanitizer expects none ("CHECK failed:
# AddrIsInMem" after a few hundred thousand runs); a small one keeps it low.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:quarantine_size_mb=8}
# Under qemu-i386 the address sanitizer's own allocator now and then fails
# its internal CHECK (memory mapped where it does not expect it). That is no
# fault of the code under test: it is told apart by running the saved input
# again, three times; a real finding fails every time.
runtime_fault() {
  local name=$1
  shift
  grep -q 'AddressSanitizer: CHECK failed' "$work/$name.log" || return 1
  local artifact
  artifact=$(ls -t "$findings/$name-"* 2>/dev/null | head -n 1)
  [[ -n $artifact ]] || return 1
  for _ in 1 2 3; do
    timeout 60 "$@" "$artifact" >/dev/null 2>&1 || return 1
  done
  rm -f "$artifact"
}

# run_target NAME LIMIT...: one target under its limit (-max_total_time or
# -runs); writes $work/NAME.summary and returns 1 on a finding.
run_target() {
  local name=$1 entry command options started outer
  shift
  entry=$build/FuzzTargets/$name
  read -r -a command <"$entry"
  mkdir -p "$work/$name.corpus"
  # Seeds a mutation can start from, where random bytes would rarely pass a
  # checksum, and inputs that once found a fault: Tests/Fuzz/<Target>/.
  [[ -d Tests/Fuzz/$name ]] && cp Tests/Fuzz/"$name"/* "$work/$name.corpus/"
  options=()
  [[ -f Tests/Fuzz/$name.dict ]] && options=(-dict="Tests/Fuzz/$name.dict")
  # The outer limit ends a run whose own clock stops (seen once, before the
  # quarantine was made small); running into it counts as a finding. A
  # campaign's runs have no clock of their own: a day at most.
  outer=$((seconds * 2 + 120))
  [[ -z $runs ]] || outer=86400
  started=$(date +%s)
  if timeout --kill-after=10 "$outer" "${command[@]}" "$@" -timeout=25 -print_final_stats=1 \
      -artifact_prefix="$findings/$name-" "${options[@]}" "$work/$name.corpus" >"$work/$name.log" 2>&1; then
    verdict="findings: none"
  elif runtime_fault "$name" "${command[@]}"; then
    verdict="findings: none (the sanitizer runtime failed inside the emulator; its input passes when run again)"
  else
    verdict="FINDING (reproducer in $findings)"
  fi
  local executed rate coverage elapsed
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$name.log" | tail -n 1)
  coverage=$(grep -o 'cov: [0-9]*' "$work/$name.log" | tail -n 1 | awk '{print $2}')
  elapsed=$(($(date +%s) - started))
  # The wall time includes loading the corpus and the emulator's start, so it
  # may exceed the fuzzing time asked for.
  printf '%s: %s executions in %d s of wall time (%s per second of fuzzing), coverage %s edges, corpus %s inputs; %s\n' \
    "$name" "${executed:-?}" "$elapsed" "${rate:-?}" "${coverage:-?}" "$(ls "$work/$name.corpus" | wc -l)" "$verdict" \
    >"$work/$name.summary"
  [[ $verdict == findings:* ]]
}

targets=()
for entry in "$build"/FuzzTargets/*; do
  [[ -f $entry ]] && targets+=("$(basename "$entry")")
done
if ((${#wanted[@]})); then
  for name in "${wanted[@]}"; do
    [[ -f $build/FuzzTargets/$name ]] || { echo "fuzz.sh: no target $name; there are: ${targets[*]}" >&2; exit 2; }
  done
  targets=("${wanted[@]}")
fi

status=0
if [[ -z $runs ]]; then
  for name in "${targets[@]}"; do
    echo "== $name: ${seconds} s"
    run_target "$name" -max_total_time="$seconds" || { status=1; tail -n 40 "$work/$name.log"; }
    cat "$work/$name.summary"
  done
  exit $status
fi

echo "== campaign: $runs executions per target (PrintLibFuzz: ${engine_runs:-$runs}), $(qel_jobs) side by side"
pids=()
for name in "${targets[@]}"; do
  limit=$runs
  [[ $name == PrintLibFuzz && -n $engine_runs ]] && limit=$engine_runs
  while (($(jobs -rp | wc -l) >= $(qel_jobs))); do
    wait -n || true
  done
  run_target "$name" -runs="$limit" &
  pids+=($!)
done
for index in "${!pids[@]}"; do
  wait "${pids[$index]}" || { status=1; tail -n 40 "$work/${targets[$index]}.log"; }
  cat "$work/${targets[$index]}.summary"
done
exit $status
