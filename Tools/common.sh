# Shared by the scripts: one setting for build parallelism, and a build that
# shows its progress.
#   QEL_JOBS   parallel build and test jobs (default: the machine's cores)
qel_jobs() { echo "${QEL_JOBS:-$(nproc)}"; }

# qel_build PRESET...: configures and builds each preset, one line per
# finished target, so a first build that takes minutes is not silent.
qel_build() {
  local preset
  for preset in "$@"; do
    echo "== building $preset (build/$preset)"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(qel_jobs)" 2>&1 |
      { grep --line-buffered -E '^\[ *[0-9]+%\] Built target|error|warning|Error' || true; }
    [[ ${PIPESTATUS[0]} -eq 0 ]] || return 1
  done
}

# qel_build_targets DIR TARGET...: builds only those targets of a configured
# build folder, one line per finished target.
qel_build_targets() {
  local dir=$1
  shift
  echo "== building $* ($dir)"
  cmake --build "$dir" -j "$(qel_jobs)" --target "$@" 2>&1 |
    { grep --line-buffered -E '^\[ *[0-9]+%\] Built target|error|warning|Error' || true; }
  [[ ${PIPESTATUS[0]} -eq 0 ]]
}
