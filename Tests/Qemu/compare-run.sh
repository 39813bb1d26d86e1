# What a boot left, compared with its expectation; sourced by the QEMU and
# Bochs scenario runners. Each function sets differs=1 on a difference.
differs=0

# compare WHAT ACTUAL EXPECTED: byte for byte; a transcript is shown with its
# control characters visible.
compare() {
  local what=$1 actual=$2 expected=$3
  [[ -f $actual ]] || : >"$actual"
  if ! cmp -s "$actual" "$expected"; then
    echo "-- $what differs from $expected; expected, then actual:"
    od -An -c "$expected" | sed 's/^/   /'
    echo "   --"
    od -An -c "$actual" | sed 's/^/   /'
    differs=1
  fi
}

# compare_report REPORT EXPECTED: the core's report without its info and
# figure lines, which vary from run to run and machine to machine.
compare_report() {
  local report=$1 expected=$2
  grep -v -e '^info:' -e '^figure ' "$report" >"$report.checked"
  if ! cmp -s "$report.checked" "$expected"; then
    echo "-- report differs from $expected (- expected, + actual):"
    diff -u "$expected" "$report.checked" | tail -n +3
    differs=1
  fi
}
