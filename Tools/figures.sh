#!/usr/bin/env bash
# Prints the project's figures: image size and sections, format-engine size,
# worst-case stack (static, from -fstack-usage over the call graph of the
# firmware objects; measured in QEMU and on the simulated board), boot time
# under QEMU, and the benchmark figures of the other areas when their programs
# exist. Every figure comes from a command run here and now.
#
#   bash Tools/figures.sh            (builds what it needs first)
#
# FIGURES_FIRMWARE_DIR and FIGURES_HOST_DIR choose the build folders
# (defaults build/figures-fw, configured with -fstack-usage, and build/host);
# QEL_JOBS the build parallelism (Tools/common.sh).
set -uo pipefail
cd "$(dirname "$0")/.."
source Tools/common.sh
fw=${FIGURES_FIRMWARE_DIR:-build/figures-fw}
host=${FIGURES_HOST_DIR:-build/host}
jobs=$(qel_jobs)

section() { printf '\n== %s\n' "$1"; }
missing() { printf '  not available yet: %s\n' "$1"; }

section "building the firmware objects with -fstack-usage ($fw)"
if ! { cmake --preset firmware -B "$fw" -DQEL_STACK_USAGE=ON >/dev/null && cmake --build "$fw" -j "$jobs" >/dev/null; }; then
  echo "  the firmware build failed; run: cmake --build $fw" >&2
  exit 1
fi
image="$fw/QelVersionPei.efi"
map="$fw/QelVersionPei.map"
objects="$fw/CMakeFiles/QelDefaultObjects.dir"
echo "  ok"
if [[ -f build/firmware/QelVersionPei.efi ]]; then
  if cmp -s "$image" build/firmware/QelVersionPei.efi; then
    echo "  identical to build/firmware/QelVersionPei.efi"
  else
    echo "  differs from build/firmware/QelVersionPei.efi (stale build there?)"
  fi
fi

section "images (bytes in the file; sections as they lie in memory)"
echo "  every build's image (each has X.rebased.efi of the same size, as its volume holds it, and X.debug.efi with DWARF):"
for each in "$fw"/QelVersionPei*.efi; do
  [[ $each == *.debug.efi || $each == *.rebased.efi ]] && continue
  printf '    %-40s %7d bytes\n' "$(basename "$each")" "$(stat -c %s "$each")"
done
echo "  the shipped image and its packages:"
llvm-size -A "$image" | awk 'NR > 2 && $1 ~ /^\./ { printf "    %-40s %7d bytes in memory\n", "QelVersionPei.efi section " $1, $2 }'
for packed in QelVersionPei.ffs QelVersionPei.fv QelVersion.fd; do
  [[ -f $fw/$packed ]] && printf '    %-40s %7d bytes\n' "$packed" "$(stat -c %s "$fw/$packed")"
done
[[ -f $fw/QelVersionPei.rebase ]] && printf '    QelVersionPei.fv runs its PE32 in place at %s\n' "$(cat "$fw/QelVersionPei.rebase")"

# Where the shipped image's bytes go, by unit, from its link map. The format
# engine's own figure (what its entry points reach) is the benchmark's, below.
section "QelVersionPei.efi by unit (code and constant data, from the link map)"
python3 Tools/map-sizes.py "$map" | sort -t$'\t' -k2,2nr | awk -F'\t' '{ printf "  %-28s %6d code %6d data\n", $1, $2, $3 }'

# Static worst case: frame sizes from the .su files, edges from the call and
# jump relocations of the objects, walked from ModuleEntry. Each level adds
# its 4-byte return address. A function may appear twice on a path, so that
# a call of itself would show.
section "worst-case stack, static (-fstack-usage over the call graph from ModuleEntry)"
{
  find "$objects" -name '*.su' -exec cat {} + | awk -F'\t' '{ n = split($1, part, ":"); print "frame", part[n], $2 }'
  find "$objects" -name '*.obj' -print0 | xargs -0 llvm-objdump -dr --no-show-raw-insn 2>/dev/null | awk '
    /^[0-9a-f]+ <.*>:$/ { current = substr($2, 2, length($2) - 3) }
    /IMAGE_REL_I386_REL32/ { print "edge", current, $NF }
    /call[l]?[ \t]+\*/ { print "indirect", current }'
} | awk '
  # ?Int3@Cpu@@YAXXZ reads Cpu::Int3; the rest of a decorated name is its type.
  function short(name,   parts, n, i, result) {
    if (substr(name, 1, 1) != "?") return name
    n = split(substr(name, 2, index(name, "@@") - 2), parts, "@")
    result = ""
    for (i = n; i >= 1; i--) {
      if (substr(parts[i], 1, 4) == "?A0x") continue  # an anonymous namespace
      result = (result == "") ? parts[i] : result "::" parts[i]
    }
    return result
  }
  function plain(name) { return (substr(name, 1, 1) == "_" && index(name, "@") == 0) ? substr(name, 2) : name }
  $1 == "frame" { name = plain($2); if ($3 + 0 > frame[name]) frame[name] = $3 + 0 }
  $1 == "edge" { from = plain($2); to = plain($3); if (!((from, to) in seen)) { seen[from, to] = 1; callees[from] = callees[from] " " to } }
  $1 == "indirect" { indirect[plain($2)] = 1 }
  # Returns the deepest cost below name; Path then holds the way it goes.
  function deepest(name,   list, n, i, best, cost, bestPath) {
    if (visits[name] >= 2) { Path = ""; return 0 }
    visits[name]++
    n = split(callees[name], list, " ")
    best = 0; bestPath = ""
    for (i = 1; i <= n; i++) {
      cost = deepest(list[i])
      if (cost > best || (cost == best && bestPath == "")) { best = cost; bestPath = Path }
    }
    visits[name]--
    if (!(name in frame)) unknown[name] = 1
    Path = short(name) (bestPath == "" ? "" : " > " bestPath)
    return frame[name] + 4 + best
  }
  END {
    total = deepest("ModuleEntry")
    printf "  %d bytes from the entry (return addresses included)\n", total
    printf "  deepest path: %s\n", Path
    print "  a routine may stand twice on the path: the call graph has one cycle (a length check in the"
    print "  engine reports through ReportAssertion, which formats through the engine). The walk takes a"
    print "  routine at most twice on a path; a run nests no deeper, since a report formats only its own"
    print "  fixed texts, which pass that check (a string limit below the message buffer is refused at build)"
    for (name in unknown) printf "  no frame size for %s (counted as 0)\n", short(name)
    for (name in indirect) printf "  indirect call in %s (PEI services, outside the module) not counted\n", short(name)
  }'

section "QEMU (qemu-system-i386 -accel tcg, flash images from $fw)"
flash="$fw"
if ! command -v qemu-system-i386 >/dev/null; then
  missing "QEMU figures: qemu-system-i386 is not installed (bash Tools/setup.sh)"
else
  work=$(mktemp -d)
  for scenario in quiet-boot first-allocation-fails pci-uart-reports; do
    out=$(bash Tests/Qemu/run-scenario.sh "Tests/Qemu/Scenarios/$scenario.scenario" "$flash" "$work/$scenario" 2>&1)
    mark=$(sed -n 's/^figure stack-high-water-bytes: //p' <<<"$out" | head -1)
    verdict=$(grep -o 'qemu-scenario [^:]*: [A-Z]*' <<<"$out" | awk '{print $3}')
    printf '  stack high-water mark, %-24s %s bytes below the entry ESP (scenario check: %s)\n' "$scenario:" "${mark:-?}" "${verdict:-?}"
  done
  times=()
  for run in 1 2 3 4 5; do
    out=$(bash Tests/Qemu/run-scenario.sh Tests/Qemu/Scenarios/quiet-boot.scenario "$flash" "$work/time" 2>&1)
    times+=("$(sed -n 's/^figure boot-milliseconds: //p' <<<"$out" | head -1)")
  done
  sorted=$(printf '%s\n' "${times[@]}" | sort -n | tr '\n' ' ')
  printf '  boot time of quiet-boot from flash (reset vector to exit), QEMU start to exit, 5 runs: %s ms (median %s ms)\n' "$sorted" \
    "$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)"
  rm -rf "$work"
fi

# The other areas' figures come from their own programs in the host build;
# each is built and run when it exists.
section "host benchmarks and the board ($host)"
if [[ ! -f $host/CMakeCache.txt ]]; then
  cmake --preset host -B "$host" >/dev/null
fi
emulator=$(sed -n 's/^QEL_HOST_EMULATOR:[A-Z]*=//p' "$host/CMakeCache.txt" 2>/dev/null)
targets=$(cmake --build "$host" --target help 2>/dev/null | sed -n 's/^\.\.\. \([A-Za-z0-9_.-]*\).*/\1/p')
has_target() { grep -qx "$1" <<<"$targets"; }
program() { find "$host" -type f -perm -u+x -name "$1" -not -path '*/CMakeFiles/*' | head -n 1; }

runner=""
for target in qel-board-Default qel-board-i386; do
  has_target "$target" && runner=$target && break
done
if [[ -n $runner ]] && cmake --build "$host" --target "$runner" -j "$jobs" >/dev/null && [[ -x $host/Tools/qel-board ]]; then
  board=$("$host/Tools/qel-board" 2>&1 | sed -n 's/^ *Stack *//p')
  if [[ -n $board ]]; then
    echo "  stack high-water mark of a default boot on the board, host build (module and seam calls): $board"
  else
    missing "stack high-water mark on the board (qel-board prints no stack line)"
  fi
else
  missing "stack high-water mark on the board (no board runner in $host)"
fi

serial=0
for benchmark in SerialBenchmark SerialLargeFifoBenchmark; do
  if has_target "$benchmark" && cmake --build "$host" --target "$benchmark" -j "$jobs" >/dev/null; then
    serial=1
    echo "  $benchmark:"
    $emulator "$(program "$benchmark")" 2>&1 | sed 's/^/    /'
  fi
done
((serial)) || missing "port accesses per boot and serial line utilisation (no SerialBenchmark in $host)"

if [[ -f Tests/Benchmarks/bench-print.sh ]] && has_target PrintBenchmark; then
  echo "  format engine (Tests/Benchmarks/bench-print.sh); columns: engine = this engine, before = the"
  echo "  engine it replaced (frozen in Tests/PrintLib/Reference), snprintf = the C library's, peer = the"
  echo "  best small embedded formatter (measured once, when the targets were set), /snprintf and /peer ="
  echo "  the engine's count over theirs:"
  bash Tests/Benchmarks/bench-print.sh "$host" "$fw" 2>&1 | sed 's/^/    /'
else
  missing "format-engine instructions per message against snprintf (no Tests/Benchmarks/bench-print.sh or PrintBenchmark)"
fi

# The shipped image itself on the simulated board (image mode): exact
# instruction counts of its runs, the deepest stack it wrote, and its format
# engine on the engine benchmark's workload. Counts, not times: the same image
# gives the same figures on any machine.
section "image mode (the firmware build's images on the board's CPU emulator)"
firmware=$(sed -n 's/^QEL_FIRMWARE_DIR:[A-Z]*=//p' "$host/CMakeCache.txt" 2>/dev/null)
firmware=${firmware:-build/firmware}
if ! { cmake --preset firmware -B "$firmware" >/dev/null && cmake --build "$firmware" -j "$jobs" >/dev/null; }; then
  missing "image-mode figures: the firmware build in $firmware failed"
else
  agree=$(grep -o '^ImageAgreement[A-Za-z0-9]*' <<<"$targets" | sort -u)
  if [[ -z $agree ]] || ! cmake --build "$host" --target $agree ImageEngineBenchmark -j "$jobs" >/dev/null; then
    missing "image-mode figures (no ImageAgreement programs in $host)"
  else
    boot=$($emulator "$(program ImageAgreementDefault)" --figures)
    for scenario in FreshBoard ConfiguredBoard FirstAllocationFails; do
      awk -v s="$scenario" '$1 == s { outcome = $0; sub(/^[^ ]+ +[0-9]+ +[0-9]+  /, "", outcome)
                                      printf "  %-22s %9d instructions, %5d bytes of stack (%s)\n", s ":", $2, $3, outcome }' <<<"$boot"
    done
    echo "  deepest stack and instructions per scenario, every compared build:"
    for program in $agree; do
      $emulator "$(program "$program")" --figures | sed 's/^/    /'
    done
    echo "  format engine of $firmware/QelVersionPei.efi, one call per workload of Tests/Benchmarks/PrintBenchmark.cpp:"
    $emulator "$(program ImageEngineBenchmark)" "$firmware/QelVersionPei.efi" | sed 's/^/    /'
  fi
fi

section "coverage of the module's units by the host tests (bash Tools/coverage.sh)"
if [[ -f build/host-coverage/coverage-summary.txt ]]; then
  printf '  %s (measured %s)\n' "$(cat build/host-coverage/coverage-summary.txt)" \
    "$(date -r build/host-coverage/coverage-summary.txt '+%Y-%m-%d %H:%M')"
else
  missing "coverage figures (run bash Tools/coverage.sh; it takes a build of its own)"
fi

section "which stack figure to budget"
cat <<'TEXT'
  The static worst case above is the figure to budget for the module's stack: a bound over
  every path of the shipped image, a report within a report included; the PEI services it
  calls come on top, from the platform's own figures. The rest are measured, not bounds:
    QEMU and image mode   the deepest use on real runs of the shipped image (they count from
                          slightly different points at the entry, so they differ by a few words)
    host build            the same sources compiled by g++ -m32 with the instruction seam as
                          calls into the board: another compiler's frames, not the image's
    a halted host run     also holds the board's own calls made while the halt routine polls
TEXT
