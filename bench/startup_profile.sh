#!/usr/bin/env bash
# Where the setup's start-up goes, from one run: Wine's trace of the run
# (WINEDEBUG=+timestamp,+loaddll: each library load with the tick count), the
# setup's log (each line with the tick count in hex after the time) and
# winwait's line (start_tick_ms: the tick count when the program was started,
# window_ms: when its window was mapped). All three are on one clock.
#
#   startup_profile.sh TRACE LOG WINWAIT_LINE
#
# Prints one milestone a line, "what|at N ms (+M ms)", in the order they
# happened.
set -euo pipefail
TRACE="$1"
LOG="$2"
LINE="$3"

field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$LINE"; }
START="$(field start_tick_ms)"
WINDOW="$(field window_ms)"
if [ -z "$START" ] || [ -z "$WINDOW" ]; then
  echo "profile|no window in the profiled run"
  exit 0
fi

{
  # The setup's own thread: the one that loaded setup.exe.
  tr -d '\r' <"$TRACE" | awk -F: '
    /trace:loaddll/ && tid == "" && /setup\.exe/ { tid = $2 }
    /trace:loaddll/ && tid != "" && $2 == tid {
      name = $0; sub(/.*Loaded L"/, "", name); sub(/".*/, "", name); sub(/.*\\/, "", name)
      name = tolower(name)
      if (name == "setup.exe") printf "%.3f %s\n", $1 * 1000, "setup.exe mapped by the Wine loader"
      else if (name == "winex11.drv") printf "%.3f %s\n", $1 * 1000, "display driver up (winex11.drv: user32 joins the desktop)"
      else if (name == "msxml3.dll") printf "%.3f %s\n", $1 * 1000, "XML parser loaded (msxml3.dll and what it pulls in)"
      else if (name == "uxtheme.dll") printf "%.3f %s\n", $1 * 1000, "theme library loaded (uxtheme.dll)"
    }'
  # The setup's log lines that mark its start-up.
  tr -d '\r' <"$LOG" | awk '
    $2 ~ /^[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9a-f]+$/ {
      hex = $2; sub(/.*\./, "", hex)
      tick = 0
      for (i = 1; i <= length(hex); ++i) tick = tick * 16 + index("0123456789abcdef", substr(hex, i, 1)) - 1
      text = $0; sub(/^[^ ]* [^ ]* /, "", text)
      if (text ~ /^package info/ && !seen["first"]++) printf "%.0f %s\n", tick, "first log line (setup.ini read, the checks begin)"
      else if (text ~ /^loading .*\.xml/ && !seen["lang"]++) printf "%.0f %s\n", tick, "language file: loading starts"
      else if (text ~ /^Install language=/ && !seen["langdone"]++) printf "%.0f %s\n", tick, "language file loaded, language chosen"
      else if (text ~ /^movie / && !seen["movie"]++) printf "%.0f %s\n", tick, "background window: movie control asked for"
      else if (text ~ /^background created/ && !seen["bg"]++) printf "%.0f %s\n", tick, "background window created"
    }'
  awk -v s="$START" -v w="$WINDOW" 'BEGIN { printf "%.0f setup window mapped (what winwait times)\n", s + w }'
} | sort -n -s -k1,1 | awk -v s="$START" '
  { t = $1 - s; $1 = ""; sub(/^ /, "")
    printf "%s|at %.0f ms (+%.0f ms)\n", $0, t, t - last; last = t }'
