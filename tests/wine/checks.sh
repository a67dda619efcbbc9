# What the Windows stage's installation scripts (install.sh, quiet.sh) share:
# the product's registry names, the ok/not ok lines (FAILED is set by any
# failure), and the registry and log checks. The registry is read with
# Wine's reg.exe in the view the product's keys are in: ZT_REG_VIEW, 64 by
# default (the x86_64 twin, and any 32-bit prefix, where there is one view);
# 32 for the i686 program in a 64-bit prefix. ZT_PROGRAM_FILES is the
# Windows folder the package installs into (C:\Program Files, or
# C:\Program Files (x86) for the i686 program in a 64-bit prefix).

PRODUCT_CODE='{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}'
UNINSTALL_KEY="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$PRODUCT_CODE"
RUN_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
INSTALLATION_KEY='HKCU\Software\Corvane\Zentavo\Installation'
SETTINGS_KEY='HKCU\Software\Corvane\Zentavo\Settings'

REG_VIEW="${ZT_REG_VIEW:-64}"
PROGRAM_FILES_WINDOWS="${ZT_PROGRAM_FILES:-C:\Program Files}"
PROGRAM_FILES_UNIX="${PROGRAM_FILES_WINDOWS#C:\\}"

FAILED=0

pass() { echo "ok - $*"; }
fail() { echo "not ok - $*"; FAILED=1; }
check() {  # check <description> <command...>: ok when the command succeeds
  local what="$1"
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# The data of a registry value in the product's view, as `reg query` prints it;
# fails when the value is missing.
reg_value() {
  wine reg query "$1" /v "$2" "/reg:$REG_VIEW" 2>/dev/null | tr -d '\r' |
    sed -n "s/^    $2    REG_[A-Z_]*    \\{0,1\\}//p" | grep '' || return 1
}
reg_missing() { ! wine reg query "$1" /v "$2" "/reg:$3" >/dev/null 2>&1; }
key_missing() { ! wine reg query "$1" "/reg:$REG_VIEW" >/dev/null 2>&1; }

expect_value() {  # key, value name, expected data
  local found
  found="$(reg_value "$1" "$2")" || found="<missing>"
  if [ "$found" = "$3" ]; then
    pass "$1 \"$2\" is \"$3\""
  else
    fail "$1 \"$2\" is \"$3\" (found \"$found\")"
  fi
}

# The log's lines appear in this order (each is a part of a line, matched
# as fixed text after the one before).
expect_in_order() {
  local log="$1" after=0 text number
  shift
  for text in "$@"; do
    number="$(grep -nF -- "$text" "$log" 2>/dev/null | cut -d: -f1 |
              awk -v after="$after" '$1 > after { print; exit }')"
    if [ -n "$number" ]; then
      pass "the log has \"$text\" (line $number)"
      after="$number"
    else
      fail "the log has \"$text\" after line $after"
    fi
  done
}
