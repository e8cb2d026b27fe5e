#!/usr/bin/env bash
# The man pages against the programs as built: every command of lentar-cli,
# every board and loader command and every option a program's --help names
# must be in its page, and the pages must format without warnings.
#   man_pages.sh BUILD_DIR
set -euo pipefail
build="$1"
bin="$build/bin"
pages="$build/packaging/man"
fail() { echo "FAIL: $*" >&2; exit 1; }

# The page's words as a reader sees them: roff's \- is a hyphen, font changes
# and other escapes go.
page_text() { sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\(..//g' "$pages/$1.1"; }
options_of() { grep -oE -- '(^|[^[:alnum:]-])--?[a-z][a-z0-9-]*' | grep -oE -- '--?[a-z][a-z0-9-]*' | sort -u; }

check_words() {  # PAGE WORD...
  local page="$1"; shift
  local text; text="$(page_text "$page")"
  for w in "$@"; do
    grep -qF -- "$w" <<<"$text" || fail "$page.1 does not name $w"
  done
}

# lentar-cli: the commands its help lists, then each command's options.
commands=$("$bin/lentar-cli" --help | sed -n '/^Команды:/,/^$/p' | grep -oE '^  [a-z]+' | tr -d ' ')
[ "$(wc -w <<<"$commands")" -ge 9 ] || fail "lentar-cli --help lists too few commands: $commands"
for c in $commands; do
  grep -qE "^\.SS \"$c( |\")" "$pages/lentar-cli.1" || fail "lentar-cli.1 has no section for $c"
  # shellcheck disable=SC2046
  check_words lentar-cli $("$bin/lentar-cli" "$c" --help | options_of)
done
for c in board loader; do
  # shellcheck disable=SC2046
  check_words lentar-cli $("$bin/lentar-cli" "$c" --help | sed -n '/^Команды:/,/^$/p' |
                           grep -oE '^  [a-z][a-z-]+' | tr -d ' ')
done
# shellcheck disable=SC2046
check_words lentar-boardsim $("$bin/lentar-boardsim" --help | options_of)
# shellcheck disable=SC2046
check_words lentar-fontpack $("$bin/lentar-fontpack" --help | options_of)
# shellcheck disable=SC2046
check_words lentar $(QT_QPA_PLATFORM=offscreen "$bin/lentar" --help | options_of)

for p in lentar lentar-cli lentar-boardsim lentar-fontpack; do
  ! grep -q '@VERSION@' "$pages/$p.1" || fail "$p.1 still holds @VERSION@"
  check_words "$p" "SEE ALSO" FILES ENVIRONMENT lentar.ini XDG_CONFIG_HOME XDG_DATA_HOME \
              /usr/share/lentar/Fonts
  if command -v man >/dev/null; then
    warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$pages/$p.1" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || fail "$p.1 formats with warnings: $warnings"
  fi
done
echo "man pages: ok"
