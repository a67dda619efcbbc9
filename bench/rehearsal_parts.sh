#!/usr/bin/env bash
# What a rehearsal spends its time on: the shares of its parts in one
# callgrind profile of zentavo-bench-sim (--toggle-collect on BenchRehearsal,
# so that only whole rehearsals count), each part the inclusive count of the
# function that does it.
#
#   rehearsal_parts.sh CALLGRIND_OUT [REHEARSALS]
#
# Prints one part a line, "what|NN.N %", largest first, then "whole
# rehearsal|N million instructions" (the profile's count divided by
# REHEARSALS, the rehearsals it ran; 1 when not given).
set -euo pipefail
PROFILE="$1"
REHEARSALS="${2:-1}"
[ -f "$PROFILE" ] || { echo "rehearsal_parts: no profile $PROFILE" >&2; exit 1; }

# function (as callgrind_annotate names it, up to its argument list) | what it is
PARTS='CSha256::Block|SHA-256 blocks (all callers)
CMediumCheck::CheckFile|the setup'"'"'s medium check (every file it reads)
LoadLanguageFile|the language file'"'"'s load
LoadMachineFile|the machine file: JSON parse and construction
SimFileSystem::MountHostFolder|mounting the medium'"'"'s host folder
CSetupContext::LaunchProductSetup|the product'"'"'s package through the simulated Windows Installer
RecordingScreen::Transcript|the rehearsal'"'"'s screen transcript
CInstallLog::LogV|the installation log'"'"'s lines'

callgrind_annotate --inclusive=yes --threshold=100 "$PROFILE" 2>/dev/null | tr -d ',' | awk -v parts="$PARTS" -v runs="$REHEARSALS" '
  BEGIN {
    n = split(parts, lines, "\n")
    for (i = 1; i <= n; ++i) { split(lines[i], f, "|"); fn[i] = f[1]; what[i] = f[2] }
  }
  # "  12345 (12.34%)  file:function(args) [object]"
  $1 ~ /^[0-9]+$/ && $2 ~ /^\(/ {
    if ($0 ~ /PROGRAM TOTALS/) next
    if ($0 ~ /:RunRehearsal\(/ && !whole) whole = $1
    for (i = 1; i <= n; ++i) {
      if (!(i in count) && (index($0, ":" fn[i] "(") > 0 || index($0, ":" fn[i] "[abi") > 0)) count[i] = $1
    }
  }
  END {
    if (!whole) { print "rehearsal profile|no rehearsal in the profile"; exit }
    for (i = 1; i <= n; ++i) if (i in count) printf "%d|%s|%.1f %%\n", count[i], what[i], 100 * count[i] / whole
    printf "0|whole rehearsal|%.1f million instructions\n", whole / runs / 1e6
  }' | sort -t'|' -k1,1nr | cut -d'|' -f2-
