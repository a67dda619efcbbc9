#!/usr/bin/env bash
# Every language fits: the real setup window (text_fit.exe, built from
# tests/wine/text_fit.cpp with the real front end) measures every text of
# every screen in every language of the medium's language file, at 96 and at
# 120 DPI, against its control's client rectangle, and photographs every
# screen and message box of every language at 96 DPI for the contact sheets.
#
# Japanese is measured in a run whose ANSI code page is 932 (Wine takes it
# from LC_ALL; the host needs the ja_JP.UTF-8 locale), with the Japanese font
# of Debian's fonts-vlgothic standing in for Arial in the Shift-JIS
# character set (a font substitute of the prefix). Its metrics are those of
# that stand-in, so it is measured with a wider margin.
#
# Run by tests/wine/run.sh, which provides DISPLAY and a booted WINEPREFIX,
# and ZT_WIN64_BUILD (the build with text_fit.exe). Output:
#   build/wine/<version>/fit/report.tsv      every text, language and DPI
#   build/wine/<version>/fit/sheets/*.png    the contact sheets
#   build/wine/<version>/fit/text-fit.md     the result for translators
# With ZT_UPDATE_SCREENS=1 the sheets go to docs/screens/ and the result to
# docs/text-fit.md. Ends with 1 when a text does not fit or a run failed.
set -uo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$ROOT"
BUILD="${ZT_WIN64_BUILD:-$ROOT/build/win32}"
OUT="${ZT_FIT_OUT:-$ROOT/build/wine/fit}"
TOOL="$BUILD/tests/wine/text_fit.exe"
LANGUAGES="$ROOT/medium/SetupLanguages.xml"
JA_LOCALE=ja_JP.UTF-8
JA_FONT="VL Gothic"
LABEL_FONT=/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf
FAILED=0

START=$SECONDS
say() { echo "--- text fit: $* ($((SECONDS - START)) s)"; }
check() {  # passed(0|1) what
  if [ "$1" = 1 ]; then echo "ok - $2"; else echo "not ok - $2"; FAILED=1; fi
}

: "${DISPLAY:?text_fit.sh needs DISPLAY (run it through tests/wine/run.sh)}"
: "${WINEPREFIX:?text_fit.sh needs WINEPREFIX (run it through tests/wine/run.sh)}"
if [ ! -f "$TOOL" ]; then
  echo "text fit: $TOOL is missing" >&2
  exit 1
fi
rm -rf "$OUT"
mkdir -p "$OUT/shots" "$OUT/sheets"

# Without a window manager Wine draws the frames itself (the message boxes'
# caption buttons come from Marlett).
FONTS="$WINEPREFIX/drive_c/windows/Fonts"
if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$FONTS/marlett.ttf" ]; then
  mkdir -p "$FONTS" && cp /usr/share/wine/fonts/marlett.ttf "$FONTS/"
fi
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
# Arial in the Shift-JIS character set is the Japanese font, as on a
# Japanese Windows, where the face has that set through its substitute.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
  /v 'Arial,128' /t REG_SZ /d "$JA_FONT,128" /f >/dev/null 2>&1
wineserver -w

set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  # Read when the prefix's first program starts.
  wineserver -k >/dev/null 2>&1
  wineserver -w
}

# run DPI NAME [text_fit options]: one run; its report is $OUT/NAME.tsv.
run() {
  local dpi="$1" name="$2"
  shift 2
  local status=0
  timeout 600 wine "$TOOL" "$(winepath -w "$LANGUAGES")" "$(winepath -w "$OUT/$name.tsv")" "$@" \
    >"$OUT/$name.out" 2>&1 || status=$?
  tr -d '\r' <"$OUT/$name.out"
  wineserver -w
  return "$status"
}

JA_WHY=""
# The lists are read whole first: grep -q stops at the first match, and the
# writer's broken pipe would fail the pipeline.
if ! grep -qix 'ja_JP.utf8' <<<"$(locale -a 2>/dev/null)"; then
  JA_WHY="the host lacks the $JA_LOCALE locale (locales: locale-gen or localedef)"
elif ! grep -q "$JA_FONT" <<<"$(fc-list : family 2>/dev/null)"; then
  JA_WHY="the Japanese font $JA_FONT is not installed (fonts-vlgothic)"
fi

for dpi in 96 120; do
  set_dpi "$dpi"
  shots=()
  [ "$dpi" = 96 ] && shots=(--shots "$(winepath -w "$OUT/shots")")
  say "$dpi DPI: every language but Japanese"
  status=0
  run "$dpi" "western-$dpi" "${shots[@]}" || status=$?
  check "$([ "$status" -le 1 ] && [ -s "$OUT/western-$dpi.tsv" ] && echo 1 || echo 0)" \
    "the texts are measured at $dpi DPI in every language but Japanese"
  if [ -n "$JA_WHY" ]; then
    say "$dpi DPI: Japanese NOT measured: $JA_WHY"
    echo "JAPANESE	$dpi	not measured: $JA_WHY" >>"$OUT/not-measured.txt"
    continue
  fi
  say "$dpi DPI: Japanese, code page 932 (LC_ALL=$JA_LOCALE)"
  wineserver -k >/dev/null 2>&1
  wineserver -w
  status=0
  LC_ALL="$JA_LOCALE" run "$dpi" "japanese-$dpi" --japanese "${shots[@]}" || status=$?
  LC_ALL="$JA_LOCALE" wineserver -k >/dev/null 2>&1
  wineserver -w
  if [ "$status" -eq 3 ]; then
    why="$(tr -d '\r' <"$OUT/japanese-$dpi.out" | grep -m1 'not measured' | sed 's/^Japanese not measured: //')"
    say "$dpi DPI: Japanese NOT measured: $why"
    echo "JAPANESE	$dpi	not measured: $why" >>"$OUT/not-measured.txt"
  else
    check "$([ "$status" -le 1 ] && [ -s "$OUT/japanese-$dpi.tsv" ] && echo 1 || echo 0)" \
      "the Japanese texts are measured at $dpi DPI in code page 932"
    face="$(cut -f10 "$OUT/japanese-$dpi.tsv" | sort | uniq -c | sort -rn | head -n1 | sed 's/^ *[0-9]* //')"
    say "$dpi DPI: Japanese drawn with the face \"$face\""
  fi
done
set_dpi 96

cat "$OUT"/western-*.tsv "$OUT"/japanese-*.tsv 2>/dev/null >"$OUT/report.tsv"
# The runs saw the DPI they were meant to (the report's second column).
for dpi in 96 120; do
  check "$(awk -F'\t' -v d="$dpi" 'FILENAME ~ ("-" d ".tsv$") && $2 != d { bad = 1 } END { print bad ? 0 : 1 }' \
    "$OUT"/*-"$dpi".tsv)" "the $dpi DPI runs drew at $dpi DPI"
done

# ---- the result: per language and DPI, and every text that does not fit ------------
{
  echo "# Every language fits"
  echo
  echo "Made by \`tests/wine/text_fit.sh\` (the Windows stage's case \`fit\`): the real setup window"
  echo "under Wine, every text of every screen (\`src/ui/screens.cpp\`) in every language of"
  echo "\`medium/SetupLanguages.xml\`, laid out as its control lays it out, against the control's"
  echo "client rectangle. Margins across: 2 pixels for the Latin languages (Liberation Sans stands"
  echo "in for Arial: the same widths, other hinting), 6 pixels for Japanese (drawn in code page 932"
  echo "with $JA_FONT standing in for Arial's Shift-JIS face: approximate metrics). A static's text"
  echo "is wrapped that much narrower than its control and must fit its height; a button's caption"
  echo "must fit inside its raised edge. What was mended so that everything fits (the layout's"
  echo "rectangles, translations shortened in the language file) is in \`docs/decisions.md\`,"
  echo "\"Every language fits\"."
  echo
  echo "| language | 96 DPI | 120 DPI |"
  echo "|---|---|---|"
  for language in $(cut -f1 "$OUT/report.tsv" | sort -u) \
                  $(cut -f1 "$OUT/not-measured.txt" 2>/dev/null | sort -u); do
    printf '| %s |' "$language"
    for dpi in 96 120; do
      why="$(awk -F'\t' -v l="$language" -v d="$dpi" '$1 == l && $2 == d { print $3 }' \
             "$OUT/not-measured.txt" 2>/dev/null)"
      if [ -n "$why" ]; then printf ' %s |' "$why"; continue; fi
      awk -F'\t' -v l="$language" -v d="$dpi" '$1 == l && $2 == d { n++; if ($9 != "fits") c++ }
        END { if (!n) printf " not measured |"; else if (c) printf " %d of %d texts clipped |", c, n;
              else printf " all %d texts fit |", n }' "$OUT/report.tsv"
    done
    echo
  done | sort -u
  echo
  if awk -F'\t' '$9 != "fits" { found = 1 } END { exit !found }' "$OUT/report.tsv"; then
    echo "## For translators: what does not fit"
    echo
    echo "| language | DPI | screen | control | text id | pixels too long | text |"
    echo "|---|---|---|---|---|---|---|"
    awk -F'\t' '$9 != "fits" { printf "| %s | %s | %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5, $8, $11 }' \
      "$OUT/report.tsv"
  else
    echo "Nothing is clipped."
  fi
  echo
  echo "## Closest to the edge"
  echo
  echo "The button captions and help texts with the least room left (pixels to spare beyond the"
  echo "margin: across a button, below the last line of a help text): a translation made longer"
  echo "here is the first to be clipped. (The one-line texts, title, header and message, wrap to a"
  echo "second line, which their controls have no room for, when they grow past their width.)"
  echo
  echo "| language | DPI | screen | control | text id | pixels to spare | text |"
  echo "|---|---|---|---|---|---|---|"
  awk -F'\t' '$9 == "fits" && ($4 == "confirm" || $4 == "cancel" || $4 == "help")' "$OUT/report.tsv" |
    sort -t$'\t' -k8,8nr -k1,1 -k2,2n | head -n 12 |
    awk -F'\t' '{ printf "| %s | %s | %s | %s | %s | %d | %s |\n", $1, $2, $3, $4, $5, -$8, $11 }'
  echo
  echo "Fonts the system chose: $(awk -F'\t' '{ print ($1 == "JAPANESE" ? "Japanese" : "the others") ": " $10 }' \
    "$OUT/report.tsv" | sort -u | paste -sd ';' - | sed 's/;/; /g')."
} >"$OUT/text-fit.md"
say "result"
sed -n '/^| language | 96/,/^$/p' "$OUT/text-fit.md"
awk -F'\t' '$9 != "fits" { printf "CLIPPED %s %s DPI, %s, %s %s: %s pixels too long: %s\n", $1, $2, $3, $4, $5, $8, $11 }' \
  "$OUT/report.tsv"
clipped="$(awk -F'\t' '$9 != "fits"' "$OUT/report.tsv" | wc -l)"
check "$([ "$clipped" -eq 0 ] && echo 1 || echo 0)" "no text is clipped ($(wc -l <"$OUT/report.tsv") measured, $clipped clipped)"

# ---- the contact sheets ------------------------------------------------------------
say "contact sheets"
SHEET_OPTIONS=(-font "$LABEL_FONT" -pointsize 11 -background '#303030' -fill white
               -geometry +6+6)
# make_sheet DIR: one language's sheet, its screens in order with their names.
make_sheet() {
  local dir="$1" language file label
  language="$(basename "$dir")"
  local sheet="$OUT/sheets/$(echo "$language" | tr 'A-Z_' 'a-z-').png" files=()
  while IFS=$'\t' read -r file label; do
    files+=(-label "$label" "$dir/$file")
  done < <(tr -d '\r' <"$dir/labels.txt")
  # Few colours in a palette keep the pictures small (the window has few).
  if montage "${SHEET_OPTIONS[@]}" -tile 6x -title "$language" "${files[@]}" \
       "$OUT/sheet-$language.png" 2>"$OUT/montage-$language.txt" &&
     convert "$OUT/sheet-$language.png" +dither -colors 32 "PNG8:$sheet" 2>>"$OUT/montage-$language.txt"; then
    echo "ok - the contact sheet of $language ($(( ${#files[@]} / 3 )) screens)" >"$OUT/sheet-$language.result"
  else
    echo "not ok - the contact sheet of $language (see $OUT/montage-$language.txt)" >"$OUT/sheet-$language.result"
  fi
}
overview=()
jobs_running=0
for dir in "$OUT"/shots/*/; do
  [ -f "$dir/labels.txt" ] || continue
  # Two at a time.
  make_sheet "$dir" &
  jobs_running=$((jobs_running + 1))
  if [ "$jobs_running" -ge 2 ]; then wait -n; jobs_running=$((jobs_running - 1)); fi
  # The overview: each language's greeting.
  greeting="$(tr -d '\r' <"$dir/labels.txt" | awk -F'\t' '$2 ~ /: greeting$/ { print $1; exit }')"
  [ -n "$greeting" ] && overview+=(-label "$(basename "$dir")" "$dir/$greeting")
done
wait
for result in "$OUT"/sheet-*.result; do
  [ -f "$result" ] || continue
  cat "$result"
  grep -q '^not ok' "$result" && FAILED=1
done
if [ "${#overview[@]}" -gt 0 ] && montage "${SHEET_OPTIONS[@]}" -tile 4x -title "the greeting in every language" \
     "${overview[@]}" "$OUT/sheet.png" 2>"$OUT/montage-overview.txt" &&
   convert "$OUT/sheet.png" +dither -colors 32 "PNG8:$OUT/sheets/overview.png"; then
  check 1 "the overview of $(( ${#overview[@]} / 3 )) languages"
else
  check 0 "the overview"
fi

if [ "${ZT_UPDATE_SCREENS:-0}" = 1 ]; then
  mkdir -p docs/screens
  rm -f docs/screens/sheet-*.png
  for sheet in "$OUT"/sheets/*.png; do
    case "$(basename "$sheet")" in
      overview.png) cp "$sheet" docs/screens/overview.png ;;
      *) cp "$sheet" "docs/screens/sheet-$(basename "$sheet")" ;;
    esac
  done
  cp "$OUT/text-fit.md" docs/text-fit.md
  say "contact sheets copied to docs/screens/, the result to docs/text-fit.md"
fi

if [ "$FAILED" -ne 0 ]; then
  say "FAILED (see $OUT)"
  exit 1
fi
say "passed"
