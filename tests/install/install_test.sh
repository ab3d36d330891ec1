#!/usr/bin/env bash
# Installs the build into a temporary prefix, as `cmake --install` does for a
# user, and runs the installed programs through their links in bin/: they must
# find their language file and tarnwick.INI in lib/tarnwick/ through the real
# path of the executable, whichever link started them and whatever the
# current folder is.
#
#   install_test.sh BUILD_DIR MAKE_NB0
set -uo pipefail

build=$1
make_nb0=$2

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-install-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
work=$tmp/work
mkdir -p "$work" "$tmp/home" "$tmp/runtime" "$tmp/tmp"
chmod 700 "$tmp/runtime"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
expect_contains() {  # what, text, needle
  if [[ "$2" != *"$3"* ]]; then
    fail "$1: expected to contain \"$3\", got:"$'\n'"$2"
  fi
}

# A user of their own: settings, lock and temporary files in the test's
# folder, English language, nothing inherited from the caller's locale.
run() {
  env -i PATH=/usr/bin:/bin HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" \
    XDG_RUNTIME_DIR="$tmp/runtime" TMPDIR="$tmp/tmp" LANG=en_US.UTF-8 \
    QT_QPA_PLATFORM=offscreen "$@"
}

# --- the installation ---------------------------------------------------------
if ! cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log" >&2
  echo "FAIL: cmake --install (is everything built? scripts/build builds it all)" >&2
  exit 1
fi

programs=(tarnwick-cli vestibule panelsim)
for gui in tarnwick ravolin; do
  [ -e "$build/bin/$gui" ] && programs+=("$gui")
done
for p in "${programs[@]}"; do
  link=$prefix/bin/$p
  if [ ! -L "$link" ]; then
    fail "bin/$p is not a link"
    continue
  fi
  target=$(readlink "$link")
  [[ "$target" == /* ]] && fail "bin/$p points to an absolute path ($target); the tree would not move"
  [ "$(readlink -f "$link")" = "$(readlink -f "$prefix/lib/tarnwick/$p")" ] ||
    fail "bin/$p does not lead to lib/tarnwick/$p"
  [ -x "$prefix/lib/tarnwick/$p" ] || fail "lib/tarnwick/$p is not an executable"
done
for f in TarnwickRes409.DLL tarnwick.INI; do
  [ -f "$prefix/lib/tarnwick/$f" ] || fail "lib/tarnwick/$f is missing"
done
for page in tarnwick-cli vestibule; do
  [ -f "$prefix/share/man/man1/$page.1.gz" ] || fail "manual page $page(1) is missing"
done
[ -f "$prefix/lib/udev/rules.d/70-tarnwick-serial.rules" ] || fail "the udev rule is missing"
grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$prefix/lib/udev/rules.d/70-tarnwick-serial.rules" ||
  fail "the udev rule does not keep ModemManager away"
for gui in tarnwick ravolin; do
  [[ " ${programs[*]} " == *" $gui "* ]] || continue
  desktop=$prefix/share/applications/$gui.desktop
  [ -f "$desktop" ] || fail "$gui.desktop is missing"
  grep -qx "Exec=$gui" "$desktop" || fail "$gui.desktop does not start $gui"
  grep -qx "Icon=$gui" "$desktop" || fail "$gui.desktop names another icon"
  for icon in scalable/apps/$gui.svg 48x48/apps/$gui.png 256x256/apps/$gui.png; do
    [ -f "$prefix/share/icons/hicolor/$icon" ] || fail "icon $icon is missing"
  done
  if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$desktop" 2>&1) || fail "$gui.desktop: $out"
  fi
  [ "$gui" = tarnwick ] && { [ -f "$prefix/share/man/man1/tarnwick.1.gz" ] || fail "manual page tarnwick(1) is missing"; }
done

# --- the console program through its link ------------------------------------
cli=$prefix/bin/tarnwick-cli
out=$(cd "$work" && run "$cli" --version 2>&1)
[ $? -eq 0 ] || fail "tarnwick-cli --version failed: $out"
expect_contains "tarnwick-cli --version" "$out" "tarnwick-cli V 6.0"

# The English file, found beside the real program; German is built in. Once
# through the link in bin/, once through a link to that link somewhere else.
mkdir -p "$tmp/elsewhere"
ln -s "$cli" "$tmp/elsewhere/tw"
for starter in "$cli" "$tmp/elsewhere/tw"; do
  out=$(cd "$work" && run "$starter" --text 10054 2>&1)
  [ "$out" = "Compressing the CE image ..." ] || fail "$starter --text 10054 (English) gave: $out"
done
out=$(cd "$work" && run env LANG=de_DE.UTF-8 "$cli" --text 10054 2>&1)
[ "$out" = "Komprimiere das CE-Image ..." ] || fail "--text 10054 (German) gave: $out"

# An import from the installed program, in English.
"$make_nb0" "$work/x.NB0" --size 100000 --compressed >/dev/null || fail "make_nb0 failed"
out=$(cd "$work" && run "$cli" -IMPEX -IMPORT x.NB0 2>"$tmp/import.err")
status=$?
[ $status -eq 0 ] || fail "import exited $status: $out $(cat "$tmp/import.err")"
expect_contains "import log" "$out" "Importing x.NB0...Ok"
expect_contains "import log" "$out" "Saving  "
expect_contains "import progress" "$(cat "$tmp/import.err")" "Compressing the CE image ..."
[ -s "$work/x.img" ] || fail "the import saved no x.img"
[ -z "$(ls -A "$tmp/tmp")" ] || fail "the import left temporary files: $(ls "$tmp/tmp")"

# tarnwick.INI through the link: the transfer into a file takes its variant
# from it; with the shipped tables a type-0x40 document has a variant, so the
# command either writes x.exp (one variant) or lists the keys (several).
out=$(cd "$work" && run "$cli" --quiet -IMPEX -TOFILE x.img 2>&1)
status=$?
if [ $status -eq 0 ]; then
  [ -s "$work/x.exp" ] || fail "the transfer into a file wrote no x.exp"
elif [ $status -eq 2 ]; then
  expect_contains "variant list" "$out" "KV"
else
  fail "the transfer into a file found no variant in tarnwick.INI (exit $status): $out"
fi

# --- the other programs through their links ----------------------------------
out=$(run "$prefix/bin/panelsim" --help 2>&1)
[ $? -eq 0 ] || fail "panelsim --help failed"
expect_contains "panelsim --help" "$out" "Usage: panelsim"

# Vestibule reads setup.ini of the current folder; a setup that is not there
# is reported through the exit status alone.
mkdir -p "$work/setup"
printf '[StartUp]\nBegin=./not-there.sh\n' >"$work/setup/setup.ini"
(cd "$work/setup" && run "$prefix/bin/vestibule" /s >"$tmp/vestibule.out" 2>&1)
status=$?
[ $status -eq 1 ] || fail "vestibule with a missing setup exited $status, expected 1"
[ -s "$tmp/vestibule.out" ] && fail "vestibule printed: $(cat "$tmp/vestibule.out")"

# The desktop program runs a batch import and ends.
if [[ " ${programs[*]} " == *" tarnwick "* ]]; then
  cp "$work/x.NB0" "$work/y.NB0"
  out=$(cd "$work" && run "$prefix/bin/tarnwick" -IMPEX -IMPORT y.NB0 2>&1)
  status=$?
  [ $status -eq 0 ] || fail "tarnwick batch import exited $status: $out"
  [ -s "$work/y.img" ] || fail "the desktop program's batch import saved no y.img"
fi

# --- the manual page says what --help says ------------------------------------
if command -v groff >/dev/null; then
  for page in "$prefix"/share/man/man1/*.1.gz; do
    warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
  done
  manual=$(zcat "$prefix/share/man/man1/tarnwick-cli.1.gz" | groff -man -Tascii -P-cbou 2>/dev/null |
           tr -s ' \n' '  ')
  help=$(run "$cli" --help)
  # Every keyword and option --help names, and back: every one the manual
  # page's KEYWORDS and OPTIONS sections name.
  help_words=$(grep -oE '(^|[ (])--?[A-Za-z0-9][A-Za-z0-9-]*' <<<"$help" | tr -d ' (' | sort -u)
  for word in $help_words; do
    [[ "$manual" == *"$word"* ]] || fail "tarnwick-cli --help names $word, the manual page does not"
  done
  section=$(zcat "$prefix/share/man/man1/tarnwick-cli.1.gz" | groff -man -Tascii -P-cbou 2>/dev/null |
            sed -n '/^KEYWORDS/,/^EXIT STATUS/p')
  man_words=$(grep -oE '^ {7}(-[A-Za-z0-9]+|--[a-z][a-z-]*)' <<<"$section" | tr -d ' ' | sort -u)
  for word in $man_words; do
    grep -qE -- "(^|[ (])$word([^A-Za-z0-9-]|$)" <<<"$help" ||
      fail "the manual page names $word, tarnwick-cli --help does not"
  done
else
  echo "note: groff is missing; the manual pages were not checked" >&2
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installation under $prefix: all checks passed"
