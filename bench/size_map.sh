#!/usr/bin/env bash
# Where setup.exe's bytes go, from the linker's map the build writes
# (build/<preset>/setup.map): the bytes each input section puts into the
# program, summed by object file and by library, with the largest first.
# What the linker dropped (--gc-sections) is listed apart in the map and is
# not counted; the resources (.rsrc) are counted as one input.
#
#   bash bench/size_map.sh MAP [TOP]
#
# Prints "by object|..." and "by library|..." lines of "name|bytes" for the
# bench's table, then the output sections.
set -euo pipefail
MAP="$1"
TOP="${2:-12}"
[ -f "$MAP" ] || { echo "size_map: no map $MAP" >&2; exit 1; }

# Each input section is "<name> <address> <size> <file>" on one line, or its
# name alone on one line and the rest on the next. Only the part after
# "Linker script and memory map" places bytes; before it are the discarded
# sections. Output sections start in column 0.
awk -v top="$TOP" '
  function hex(h,   i, v) {
    h = tolower(h); sub(/^0x/, "", h); v = 0
    for (i = 1; i <= length(h); i++) v = v * 16 + index("0123456789abcdef", substr(h, i, 1)) - 1
    return v
  }
  function short(f,   lib, obj) {
    if (match(f, /\([^()]*\)$/)) {
      lib = substr(f, 1, RSTART - 1); obj = substr(f, RSTART + 1, RLENGTH - 2)
      sub(/.*\//, "", lib)
      return lib "|" obj
    }
    obj = f; sub(/.*\//, "", obj)
    if (f ~ /CMakeFiles\//) { lib = f; sub(/.*CMakeFiles\//, "", lib); sub(/\.dir\/.*/, "", lib); return lib "|" obj }
    return "(start-up objects)|" obj
  }
  function add(file, size,   key, parts) {
    if (file == "" || size == 0) return
    key = short(file)
    split(key, parts, "|")
    byobj[parts[2] " (" parts[1] ")"] += size
    bylib[parts[1]] += size
    total += size
  }
  /^Linker script and memory map/ { placed = 1; next }
  !placed { next }
  /^[^ \t]/ {
    if ($1 ~ /^\./ && $2 ~ /^0x/ && $3 ~ /^0x/) { out[$1] = hex($3) }
    if ($1 ~ /^\./) cursect = $1
    pending = ""
    next
  }
  # " .text.name 0xADDR 0xSIZE file"
  /^ [._A-Za-z]/ && $2 ~ /^0x/ && $3 ~ /^0x/ && NF >= 4 {
    add($4, hex($3)); pending = ""; next
  }
  # " .text.a.very.long.name" then "  0xADDR 0xSIZE file"
  /^ [._A-Za-z]/ && NF == 1 { pending = $1; next }
  pending != "" && $1 ~ /^0x/ && $2 ~ /^0x/ && NF >= 3 {
    add($3, hex($2)); pending = ""; next
  }
  { pending = "" }
  END {
    for (k in byobj) printf "object|%s|%d\n", k, byobj[k]
    for (k in bylib) printf "library|%s|%d\n", k, bylib[k]
    for (k in out) printf "section|%s|%d\n", k, out[k]
    printf "total|input sections|%d\n", total
  }
' "$MAP" | sort -t'|' -k1,1 -k3,3nr | awk -F'|' -v top="$TOP" '
  $1 != last { n = 0; last = $1 }
  { n++; if ($1 == "section" || $1 == "total" || n <= top) print }
'
