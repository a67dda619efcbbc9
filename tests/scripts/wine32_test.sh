#!/usr/bin/env bash
# The decisions of scripts/wine32.sh, from tables: which versions the
# alignment names for an i386 dependency of wine32 and its amd64 twin, and
# at which version a package it removed is installed again.
set -uo pipefail
ZT_WINE32_LIB=1 . "$(dirname "$0")/../../scripts/wine32.sh"

FAILED=0
expect() {  # what, expected, actual
  if [ "$2" = "$3" ]; then echo "ok - $1"; else echo "not ok - $1: expected \"$2\", got \"$3\""; FAILED=1; fi
}

# name | Multi-Arch | installed amd64 | i386 index | amd64 index | expected (rc)
while IFS='|' read -r name multiarch installed i386 amd64 expected; do
  [ -z "$name" ] && continue
  actual="$(pin_decision "$name" "$multiarch" "$installed" "$i386" "$amd64")"
  actual="$actual ($?)"
  expect "pin $name (amd64 $installed; i386 has $i386)" "$expected" "$actual"
done <<'TABLE'
libpcre2-8-0|same|10.42-1+deb12u2|10.42-1|10.42-1+deb12u2 10.42-1|libpcre2-8-0:amd64=10.42-1 libpcre2-8-0:i386=10.42-1 (0)
libssl3|same|3.0.19-1~deb12u2|3.0.20-1~deb12u2 3.0.17-1~deb12u2|3.0.22-1~deb12u2 3.0.20-1~deb12u2 3.0.17-1~deb12u2|libssl3:amd64=3.0.20-1~deb12u2 libssl3:i386=3.0.20-1~deb12u2 (0)
libkrb5-3|same|1.20.1-2+deb12u3|1.20.1-2+deb12u5 1.20.1-2+deb12u3|1.20.1-2+deb12u5|libkrb5-3:amd64=1.20.1-2+deb12u3 libkrb5-3:i386=1.20.1-2+deb12u3 (0)
libcap2|same|1:2.66-4+deb12u2+b2|1:2.66-4+deb12u3+b1 1:2.66-4|1:2.66-4+deb12u3+b1 1:2.66-4|libcap2:amd64=1:2.66-4+deb12u3+b1 libcap2:i386=1:2.66-4+deb12u3+b1 (0)
zlib1g|same|1:1.2.13.dfsg-1|1:1.2.13.dfsg-1|1:1.2.13.dfsg-1+deb12u1 1:1.2.13.dfsg-1| (0)
libwine|same||9.0~repack-4|9.0~repack-4| (0)
dpkg|foreign|1.21.22|1.21.21|1.21.22 1.21.21| (0)
dpkg|same|1.21.22|1.21.21|1.21.22 1.21.21| (0)
wine32-helper|no|1.0-2|1.0-1|1.0-2| (0)
libgst|same|1.22.0-3+deb12u9|1.22.0-3+deb12u2|1.22.0-3+deb12u9|libgst: no version in both indexes (1)
libnone|same|2.0-1||2.0-1|libnone: no version in both indexes (1)
TABLE

# name | source | versions | pins by source | expected
while IFS='|' read -r name source versions pins expected; do
  [ -z "$name" ] && continue
  expect "restore $name ($source; pins $pins)" "$expected" "$(restore_decision "$name" "$source" "$versions" "$pins")"
done <<'TABLE'
libpcre2-dev|pcre2|10.42-1+deb12u2 10.42-1|krb5=1.20.1-2+deb12u5 pcre2=10.42-1|libpcre2-dev=10.42-1
libpcre2-16-0:amd64|pcre2|10.42-1+deb12u2 10.42-1|pcre2=10.42-1|libpcre2-16-0:amd64=10.42-1
libglib2.0-dev|glib2.0|2.74.6-2+deb12u7 2.74.6-2|pcre2=10.42-1|libglib2.0-dev
libgsf-1-dev|libgsf|1.14.50-1|pcre2=10.42-1|libgsf-1-dev
libodd-dev|odd|3.1 3.0|odd=2.9|libodd-dev
TABLE

# Packages that were there before and not after, with their sources.
before="$(mktemp)" after="$(mktemp)"
trap 'rm -f "$before" "$after"' EXIT
printf '%s\n' 'libgsf-1-dev 1.14.50-1 libgsf' 'libpcre2-8-0:amd64 10.42-1+deb12u2 pcre2' \
  'libpcre2-dev 10.42-1+deb12u2 pcre2' 'zlib1g:amd64 1:1.2.13.dfsg-1 zlib' >"$before"
printf '%s\n' 'libpcre2-8-0:amd64 10.42-1 pcre2' 'libpcre2-8-0:i386 10.42-1 pcre2' \
  'wine32:i386 8.0~repack-4 wine' 'zlib1g:amd64 1:1.2.13.dfsg-1 zlib' >"$after"
expect "removed packages are listed with their sources" "libgsf-1-dev libgsf,libpcre2-dev pcre2" \
  "$(removed_packages "$before" "$after" | paste -sd,)"
expect "nothing is removed when nothing went" "" "$(removed_packages "$after" "$after")"

# What apt's refusals name: the i386 libraries it did not pick, and the
# exact versions a package asks of its siblings.
refusal=' libcurl4:i386 : Depends: libbrotli1:i386 (>= 0.6.0) but it is not going to be installed
                 Depends: zlib1g:i386 (>= 1:1.1.4) but it is not going to be installed
 libglib2.0-0:i386 : Depends: libpcre2-8-0:i386 (>= 10.22) but it is not installable
 libfreetype6:i386 : Depends: zlib1g:i386 (>= 1:1.1.4) but it is not going to be installed
 libpcre2-dev : Depends: libpcre2-16-0 (= 10.42-1) but 10.42-1+deb12u2 is to be installed
                Depends: libpcre2-posix3 (= 10.42-1) but 10.42-1+deb12u2 is to be installed
 dpkg : Conflicts: dpkg:i386'
expect "unpicked i386 libraries, each once, none that cannot be installed" \
  "libbrotli1:i386,zlib1g:i386" "$(unpicked_libraries <<<"$refusal" | paste -sd,)"
expect "exact versions asked of siblings" "libpcre2-16-0=10.42-1,libpcre2-posix3=10.42-1" \
  "$(exact_dependencies <<<"$refusal" | paste -sd,)"
expect "no names from an empty refusal" "" "$(unpicked_libraries </dev/null; exact_dependencies </dev/null)"

expect "version_max orders epochs and tildes" "1:1.0" "$(version_max 2.0 1:1.0 1:1.0~rc1)"

exit "$FAILED"
