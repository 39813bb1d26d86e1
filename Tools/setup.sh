#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, when any is missing.
set -euo pipefail
packages=(cmake make clang lld llvm libclang-rt-14-dev gcc g++ gcc-multilib g++-multilib googletest qemu-user qemu-system-x86
          libunicorn-dev:i386 uefitool-cli gdb python3 sigrok-cli bochs bochs-term pesign)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  echo "setup: installing ${#missing[@]} Debian packages: ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo=sudo
  # The board's image mode runs in the i386 host build, so it takes the i386
  # build of the CPU emulator library.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: dpkg --add-architecture i386 (for libunicorn-dev:i386)"
    $sudo dpkg --add-architecture i386
  fi
  # A mirror in the middle of a sync fails one index now and then; what the
  # lists already hold is usually enough, and the install says if it is not.
  for attempt in 1 2 3; do
    echo "setup: apt-get update"
    $sudo apt-get update -q && break
    if ((attempt == 3)); then
      echo "setup: apt-get update failed three times; installing from the package lists there are"
    else
      echo "setup: apt-get update failed (a mirror may be syncing); trying again in 10 s"
      sleep 10
    fi
  done
  # apt's own lines (one per package fetched, unpacked and set up) show the
  # progress of what can take minutes on a fresh machine.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
  echo "setup: done"
fi
