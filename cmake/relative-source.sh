#!/usr/bin/env bash
# Compiler launcher for the firmware objects: names the source file relative
# to the build folder. The Microsoft C++ ABI mangles an anonymous namespace
# with a hash of the source's path, so with absolute paths the debug images'
# symbol names would differ from one checkout path to another.
arguments=()
for argument in "$@"; do
  if [[ $argument == /*.cpp && -f $argument ]]; then
    argument=$(realpath --relative-to="$PWD" "$argument")
  fi
  arguments+=("$argument")
done
exec "${arguments[@]}"
