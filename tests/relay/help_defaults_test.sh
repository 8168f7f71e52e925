#!/bin/bash
# help_defaults_test.sh <tindrel-relay> <relay/README.md>: every option of
# `tindrel-relay --help` that takes a value names its default, and that
# default is the one the README's options table gives.
set -eu
relay=$1
readme=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

# One line per option: "--name <value>   text", its wrapped lines joined.
entries=$("$relay" --help | awk '
    /^  -/ { if (entry != "") print entry; entry = $0; next }
    /^   / { sub(/^ +/, " "); entry = entry $0; next }
    { if (entry != "") print entry; entry = "" }
    END { if (entry != "") print entry }')
checked=0
while read -r option value text; do
    [[ $value == '<'* ]] || continue
    default=$(sed -n 's/.*(default: \(.*\))\.$/\1/p' <<<"$text")
    [ -n "$default" ] || fail "$option does not name its default: $text"
    # The README's row: | `--name <value>`[, `--other <value>`] | default | meaning |
    row=$(grep -E -- "^\| [^|]*\`$option <" "$readme") || fail "the README does not list $option"
    documented=$(cut -d'|' -f3 <<<"$row" | sed 's/^ *//; s/ *$//')
    [[ $default == "$documented" || $default == "$documented, "* ]] ||
        fail "$option: --help says $default, the README $documented"
    checked=$((checked + 1))
done <<<"$entries"
[ "$checked" -ge 12 ] || fail "found only $checked options with a value in the help"
echo "$checked defaults checked"
