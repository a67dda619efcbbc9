#!/usr/bin/env bash
# Sourced by every script that runs Wine (tests/wine/run.sh, bench/run.sh,
# scripts/wine32.sh): whether this machine runs 32-bit programs, what the
# Windows stage runs here and through which Wine loader, and the 64-bit
# loader put in front of every Wine command where the launcher's choice
# cannot be trusted.
#
# Machines of this kind differ: on some the kernel runs i386 programs, on
# others a static i386 program ends with "Exec format error". Debian's `wine`
# launcher (/usr/bin/wine-stable) takes the 32-bit loader /usr/lib/wine/wine
# whenever wine32:i386 is installed, and wineboot, winepath and the other
# tools go through it; where that loader cannot run, every Wine call fails
# with 126, the 64-bit ones too. So the machine is asked first, by running a
# program, and where only 64-bit programs can run Wine is called by the name
# of its 64-bit loader.
#
#   ZT_RUNS_I386=0|1   skip the probe and take this answer (to rehearse the
#                      other kind of machine on this one)

ZT_WINE64_LOADER="${ZT_WINE64_LOADER:-/usr/lib/wine/wine64}"
ZT_WINE64_SERVER="${ZT_WINE64_SERVER:-/usr/lib/wine/wineserver64}"

# zt_runs_i386: 0 when this machine runs 32-bit (i386) programs. Made with
# the binutils the compilers bring: a static program that only exits with 7.
# Sets ZT_I386_WHY to what it found.
zt_runs_i386() {
  case "${ZT_RUNS_I386:-}" in
    1) ZT_I386_WHY="ZT_RUNS_I386=1"; return 0 ;;
    0) ZT_I386_WHY="ZT_RUNS_I386=0"; return 1 ;;
  esac
  local dir status
  dir="$(mktemp -d)"
  printf '.globl _start\n_start:\n movl $1, %%eax\n movl $7, %%ebx\n int $0x80\n' >"$dir/probe.s"
  if ! { as --32 "$dir/probe.s" -o "$dir/probe.o" && ld -m elf_i386 "$dir/probe.o" -o "$dir/probe"; } \
       >"$dir/build.txt" 2>&1; then
    ZT_I386_WHY="no i386 probe could be made ($(head -n 1 "$dir/build.txt"))"
    rm -rf "$dir"
    return 1
  fi
  "$dir/probe" 2>"$dir/run.txt"
  status=$?
  if [ "$status" -eq 7 ]; then
    ZT_I386_WHY="a static i386 program ran"
    rm -rf "$dir"
    return 0
  fi
  ZT_I386_WHY="a static i386 program ended with $status$(sed -n '1s/.*: /: /p' "$dir/run.txt")"
  rm -rf "$dir"
  return 1
}

# zt_stage_decision RUNS_I386 WINE32_INSTALLED FORCE_TWIN (each 0 or 1):
# what the Windows stage runs and how. Prints "PRESET LOADER REASON":
#   win32 launcher            the shipped i686 setup.exe, through Debian's
#                             launcher (32-bit prefixes need the 32-bit loader)
#   win64 wine64 REASON...    the x86_64 twin in a 64-bit prefix, every Wine
#                             command through the 64-bit loader by name
zt_stage_decision() {
  local runs="$1" wine32="$2" force="$3"
  if [ "$runs" != 1 ]; then
    echo "win64 wine64 this machine cannot run 32-bit programs"
  elif [ "$force" = 1 ]; then
    echo "win64 wine64 ZT_FORCE_TWIN=1"
  elif [ "$wine32" != 1 ]; then
    echo "win64 wine64 wine32:i386 is not installed"
  else
    echo "win32 launcher"
  fi
}

zt_wine32_installed() {
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'
}

# zt_use_wine64 DIR: from now on `wine`, `wineboot`, `winepath`, `msiexec`,
# `regedit` and `wineserver` are Wine's 64-bit loader and server, by small
# programs of those names in DIR put first on PATH; WINELOADER and
# WINESERVER name them for the programs Wine starts itself.
zt_use_wine64() {
  local dir="$1" tool
  if [ ! -x "$ZT_WINE64_LOADER" ]; then
    echo "wine: the 64-bit loader $ZT_WINE64_LOADER is missing (Debian package wine64)" >&2
    return 1
  fi
  mkdir -p "$dir"
  printf '#!/bin/sh\nexec "%s" "$@"\n' "$ZT_WINE64_LOADER" >"$dir/wine"
  printf '#!/bin/sh\nexec "%s" "$@"\n' "$ZT_WINE64_SERVER" >"$dir/wineserver"
  for tool in wineboot winepath msiexec regedit; do
    printf '#!/bin/sh\nexec "%s" %s.exe "$@"\n' "$ZT_WINE64_LOADER" "$tool" >"$dir/$tool"
  done
  chmod +x "$dir"/*
  export PATH="$dir:$PATH"
  export WINELOADER="$ZT_WINE64_LOADER"
  export WINESERVER="$ZT_WINE64_SERVER"
}
