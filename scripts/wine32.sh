#!/usr/bin/env bash
# Installs Wine's 32-bit half, wine32:i386, beside the 64-bit Wine, so that
# the shipped i686 setup.exe runs in 32-bit prefixes (tests/wine/run.sh).
#
# First the ordinary way: the i386 architecture added, apt-get update,
# apt-get install wine32:i386. That is refused while the i386 and amd64
# indexes disagree on the versions of libraries marked Multi-Arch: same (an
# i386 index that did not download leaves the i386 candidates behind the
# amd64 versions installed, or ahead of them): both halves of such a library
# must have one version. Then the versions are aligned:
#
#   - for each i386 library wine32 needs whose amd64 twin is installed with
#     another version than the i386 candidate, a version both have is named
#     for both architectures (the installed one when the i386 index has it,
#     else the highest both indexes have; never dpkg itself);
#   - those pins are named with wine32:i386 and --allow-downgrades, and,
#     round by round, the i386 libraries apt says it did not pick on its own;
#   - what that removed (development packages tied to the newer versions)
#     is installed again, each at the version its source package was pinned
#     to, with the siblings its exact dependencies ask for, so that the
#     other stages lose nothing.
#
# Before anything is installed the machine is asked whether it runs 32-bit
# programs at all (scripts/wine_env.sh runs a static i386 program): where it
# cannot, wine32:i386 would only break the 64-bit Wine too (Debian's launcher
# takes the 32-bit loader whenever it is installed), so nothing is installed.
#
# Usage: scripts/wine32.sh [PACKAGE...]   (further packages installed with it)
# Ends with 0 when wine32:i386 is installed and can run, else 1; the last
# line says which.
# ZT_WINE32_DRY=1 prints the commands of the alignment instead of running them.
# Sourced with ZT_WINE32_LIB=1 it defines its decisions only
# (tests/scripts/wine32_test.sh).

# ---- decisions ----------------------------------------------------------------

# version_max V...: the highest Debian version among the arguments.
version_max() {
  local best="" v
  for v in "$@"; do
    if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best="$v"; fi
  done
  printf '%s' "$best"
}

in_list() {  # in_list WORD LIST...
  local word="$1" v
  shift
  for v in "$@"; do [ "$v" = "$word" ] && return 0; done
  return 1
}

# pin_decision NAME MULTIARCH INSTALLED_AMD64 "I386_VERSIONS" "AMD64_VERSIONS"
# What to name for one i386 dependency of wine32. Prints nothing when apt
# may choose (no amd64 twin installed, not Multi-Arch: same, dpkg, or the
# i386 candidate is the installed version), else "NAME:amd64=V NAME:i386=V".
# Ends with 1 (printing "NAME: no version in both indexes") when the two
# have no version in common.
pin_decision() {
  local name="$1" multiarch="$2" installed="$3" common="" v
  local -a i386 amd64
  read -r -a i386 <<<"$4"
  read -r -a amd64 <<<"$5"
  [ -n "$installed" ] || return 0
  [ "$multiarch" = same ] || return 0
  [ "$name" = dpkg ] && return 0
  [ "${#i386[@]}" -gt 0 ] || { echo "$name: no version in both indexes"; return 1; }
  [ "$(version_max "${i386[@]}")" = "$installed" ] && return 0
  if in_list "$installed" "${i386[@]}"; then
    common="$installed"
  else
    for v in "${i386[@]}"; do
      in_list "$v" "${amd64[@]}" && common="$(version_max $common "$v")"
    done
  fi
  if [ -z "$common" ]; then
    echo "$name: no version in both indexes"
    return 1
  fi
  echo "$name:amd64=$common $name:i386=$common"
}

# restore_decision NAME SOURCE "VERSIONS" "SOURCE=VERSION..."
# How to install again a package that the alignment removed: at the version
# its source package was pinned to when it has that version, else as apt
# chooses. Prints "NAME=V" or "NAME".
restore_decision() {
  local name="$1" source="$2" pin v
  local -a versions
  read -r -a versions <<<"$3"
  for pin in $4; do
    v="${pin#*=}"
    if [ "${pin%%=*}" = "$source" ] && in_list "$v" "${versions[@]}"; then
      echo "$name=$v"
      return 0
    fi
  done
  echo "$name"
}

# removed_packages BEFORE AFTER: the packages of the first list that are not
# in the second (both "name version source" lines, as dpkg-query prints
# them); prints "name source".
removed_packages() {
  awk 'NR == FNR { kept[$1] = 1; next } !($1 in kept) { print $1, $3 }' "$2" "$1"
}

# unpicked_libraries: from apt's list of unmet dependencies (stdin), the
# i386 packages it did not pick on its own ("Depends: X:i386 ... but it is
# not going to be installed"), one a line, each once.
unpicked_libraries() {
  sed -n 's/.*Depends: \([^ ]*:i386\).*but it is not going to be installed.*/\1/p' | sort -u
}

# exact_dependencies: from apt's list of unmet dependencies (stdin), the
# packages needed at one exact version that apt meant to keep at another
# ("Depends: X (= V) but W is to be installed"), as "X=V".
exact_dependencies() {
  sed -n 's/.*Depends: \([^ ]*\) (= \([^)]*\)) but .* is to be installed.*/\1=\2/p' | sort -u
}

if [ "${ZT_WINE32_LIB:-0}" = 1 ]; then
  return 0 2>/dev/null || exit 0
fi

# ---- the installation -------------------------------------------------------------
set -uo pipefail
. "$(dirname "$0")/wine_env.sh"
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
EXTRA=("$@")
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

say() { echo "--- wine32: $*"; }
run() {
  if [ "${ZT_WINE32_DRY:-0}" = 1 ]; then echo "would run: $*"; return 0; fi
  "$@"
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
apt_install() { $SUDO apt-get install -y -q --no-install-recommends "$@"; }

if ! zt_runs_i386; then
  say "nothing installed: this machine cannot run 32-bit programs ($ZT_I386_WHY)"
  exit 1
fi

if installed wine32:i386 && { [ "${#EXTRA[@]}" -eq 0 ] || apt_install "${EXTRA[@]}" >/dev/null; }; then
  say "wine32:i386 is installed"
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  say "adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
fi
# An index that fails to download leaves apt-get update with 100; what did
# download is used, and the alignment below deals with the rest.
$SUDO apt-get update -q >"$WORK/update.txt" 2>&1 ||
  say "apt-get update reported errors: $(grep -c '^E:' "$WORK/update.txt") (the indexes may disagree)"

say "the ordinary way: apt-get install wine32:i386"
if apt_install wine32:i386 "${EXTRA[@]}" >"$WORK/ordinary.txt" 2>&1; then
  say "wine32:i386 is installed (the ordinary way)"
  exit 0
fi
say "refused: $(grep -m1 -E '^ [^ ].*Depends|^E:' "$WORK/ordinary.txt" | sed 's/^ *//')"

say "aligning the versions of the i386 and amd64 libraries"
dpkg-query -W -f='${binary:Package} ${Version} ${source:Package}\n' | sort >"$WORK/before.txt"
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
  --no-replaces --no-enhances wine32:i386 2>/dev/null |
  grep -E '^[a-z0-9][^ ]*:i386$' | sort -u >"$WORK/deps.txt"

# What the indexes have of those packages for both architectures, and what
# is installed of their amd64 twins: one call each ("name arch version"
# lines; "name version multiarch source" lines).
mapfile -t DEPS <"$WORK/deps.txt"
apt-cache madison "${DEPS[@]}" "${DEPS[@]/%:i386/:amd64}" 2>/dev/null |
  awk -F'|' '{ gsub(/ /, "", $1); gsub(/ /, "", $2); sub(/:.*/, "", $1)
               n = split($3, w, " "); print $1, w[n - 1], $2 }' | sort -u >"$WORK/index.txt"
dpkg-query -W -f='${Status}|${Package} ${Version} ${Multi-Arch} ${source:Package}\n' \
  "${DEPS[@]/%:i386/:amd64}" 2>/dev/null | sed -n 's/^install ok installed|//p' >"$WORK/twins.txt"
index_versions() {  # NAME ARCH
  awk -v name="$1" -v arch="$2" '$1 == name && $2 == arch { printf "%s ", $3 }' "$WORK/index.txt"
}

PINS=()
PINNED_SOURCES=""
ALIGN_FAILED=0
while read -r name version multiarch source; do
  if ! decision="$(pin_decision "$name" "$multiarch" "$version" \
                     "$(index_versions "$name" i386)" "$(index_versions "$name" amd64)")"; then
    say "$decision"
    ALIGN_FAILED=1
    continue
  fi
  [ -n "$decision" ] || continue
  say "pinning $decision (amd64 had $version)"
  read -r -a pair <<<"$decision"
  PINS+=("${pair[@]}")
  PINNED_SOURCES="$PINNED_SOURCES $source=${pair[0]#*=}"
done <"$WORK/twins.txt"
say "${#PINS[@]} pins for $(( ${#PINS[@]} / 2 )) libraries"

if [ "$ALIGN_FAILED" -eq 0 ]; then
  # wine32 and the pinned libraries; then, round by round, the i386 libraries
  # apt did not pick on its own (asked with a simulated installation).
  NAMES=()
  for round in 1 2 3 4 5 6; do
    if apt-get install -s -q --no-install-recommends --allow-downgrades wine32:i386 \
         "${PINS[@]}" "${NAMES[@]}" >"$WORK/simulated.txt" 2>&1; then
      break
    fi
    mapfile -t more < <(unpicked_libraries <"$WORK/simulated.txt")
    [ "${#more[@]}" -gt 0 ] || break
    say "round $round: naming ${more[*]}"
    NAMES+=("${more[@]}")
  done
  if run apt_install --allow-downgrades wine32:i386 "${PINS[@]}" "${NAMES[@]}" \
       >"$WORK/align.txt" 2>&1; then
    dpkg-query -W -f='${binary:Package} ${Version} ${source:Package}\n' | sort >"$WORK/after.txt"
    RESTORE=()
    while read -r name source; do
      RESTORE+=("$(restore_decision "$name" "$source" \
                   "$(apt-cache madison "$name" 2>/dev/null | awk -F'|' '{ gsub(/ /, "", $2); print $2 }' | tr '\n' ' ')" \
                   "$PINNED_SOURCES")")
    done < <(removed_packages "$WORK/before.txt" "$WORK/after.txt")
    if [ "${#RESTORE[@]}" -gt 0 ]; then
      say "installing again what the alignment removed: ${RESTORE[*]}"
      # Their siblings of the same source at the pinned version too, where
      # they ask for it exactly.
      for round in 1 2 3; do
        apt-get install -s -q --no-install-recommends --allow-downgrades "${RESTORE[@]}" \
          "${PINS[@]}" wine32:i386 >"$WORK/simulated.txt" 2>&1 && break
        mapfile -t more < <(exact_dependencies <"$WORK/simulated.txt")
        [ "${#more[@]}" -gt 0 ] || break
        say "round $round: naming ${more[*]}"
        RESTORE+=("${more[@]}")
      done
      run apt_install --allow-downgrades "${RESTORE[@]}" "${PINS[@]}" wine32:i386 >"$WORK/restore.txt" 2>&1 ||
        { say "could not install again: $(grep -m1 '^E:' "$WORK/restore.txt")"; ALIGN_FAILED=1; }
    fi
    if [ "${#EXTRA[@]}" -gt 0 ]; then
      run apt_install "${EXTRA[@]}" >/dev/null 2>&1 || say "could not install ${EXTRA[*]}"
    fi
  else
    say "apt refused the aligned versions: $(grep -m1 '^E:' "$WORK/align.txt")"
    sed -n '/unmet dependencies/,$p' "$WORK/align.txt" | head -n 12
    ALIGN_FAILED=1
  fi
fi

if [ "${ZT_WINE32_DRY:-0}" != 1 ] && [ "$ALIGN_FAILED" -eq 0 ] && installed wine32:i386; then
  say "wine32:i386 is installed (versions aligned)"
  exit 0
fi
say "wine32:i386 could NOT be installed"
exit 1
