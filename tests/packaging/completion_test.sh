#!/bin/bash
# completion_test.sh <tindrel> <completions-dir>: the shell completions offer
# what `tindrel --help` lists. Completes a few lines in bash and fish as a
# user's Tab would, checks that each shell's file names every command and
# option of the help and the settings tabs; zsh's function runs with its
# completion builtins stood in for.
set -eu
tindrel=$1
dir=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u LANGUAGE LC_ALL=C.UTF-8 "$tindrel" --help)
# The words of the help's left column ("  --pause, --resume   ..."), without
# the upper-case placeholders, are every command and option there is; those
# not in brackets are the commands a line starts with.
left=$(sed -n 's/^  \([^ ].*\)$/\1/p' <<<"$help" | sed 's/   .*//')
vocabulary=$(grep -oE '(^|[ ,[])-{0,2}[a-z][a-z-]*' <<<"$left" | sed 's/^[ ,[]//' | sort -u)
commands=$(grep -oE '(^|[ ,])-{0,2}[a-z][a-z-]*' <<<"$left" | sed 's/^[ ,]//' | sort -u)
[ "$(wc -l <<<"$vocabulary")" -ge 20 ] || fail "read too few commands off the help: $vocabulary"
# The tabs --settings takes, as the help lists them in brackets.
tabs=$(tr '\n' ' ' <<<"$help" | sed -n 's/.*open the settings (\([^)]*\)).*/\1/p' | tr -s ', ' '\n' |
    sort)
[ -n "$tabs" ] || fail "the help lists no settings tabs"

for file in tindrel.bash _tindrel tindrel.fish; do
    for word in $vocabulary $tabs; do
        pattern="(^|[^a-z-])$word([^a-z-]|$)"
        # fish names options by -l and -s, without their dashes.
        if [ $file = tindrel.fish ]; then
            case $word in
            --*) pattern="-l ${word#--}( |$)" ;;
            -*) pattern="-s ${word#-}( |$)" ;;
            esac
        fi
        grep -qE -- "$pattern" "$dir/$file" || fail "$file does not offer $word"
    done
done

# bash: what Tab offers after each line (the last word is being completed).
bash_complete() {
    bash -c 'source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tindrel
        printf "%s\n" "${COMPREPLY[@]}" | sort' bash "$dir/tindrel.bash" tindrel "$@"
}
check() { # <shell> <line> <expected> <got>
    [ "$3" = "$4" ] || fail "$1: tindrel $2<Tab> offers [$(echo $4)], not [$(echo $3)]"
}
while IFS='|' read -r line expected; do
    read -ra words <<<"$line"
    [[ $line == *' ' ]] && words+=("")
    got=$(bash_complete "${words[@]}")
    check bash "$line" "$(tr ' ' '\n' <<<"$expected" | sort)" "$got"
done <<'CASES'
pi|pin
--set|--settings
--toggle-p|--toggle-panel --toggle-pause
pause-|pause-device
list |--json --pinned
list --json |--pinned
devices --j|--json
--pair 90 |--no-wait
copy |
CASES
check bash "--settings " "$tabs" "$(bash_complete --settings "")"
check bash "--settings general " "" "$(bash_complete --settings general "")"

# fish: its own completion of a command line, with our file loaded.
fish_complete() {
    fish -c 'source $argv[1]; complete -C $argv[2]' "$dir/tindrel.fish" "tindrel $1" |
        cut -f1 | sort
}
check fish "pi" "pin" "$(fish_complete pi)"
check fish "--set" "--settings" "$(fish_complete --set)"
check fish "--settings " "$tabs" "$(fish_complete '--settings ')"
check fish "list --pinned -" "--json" "$(fish_complete 'list --pinned -')"

# zsh: the function runs as compsys would call it, with compadd and
# _describe replaced by stand-ins that print what they were given.
zsh_complete() {
    zsh -c 'compadd() { [[ $1 == -- ]] && shift; print -l -- "$@"; }
        _describe() { print -l -- ${(P)${@[-1]}%%:*}; }
        words=("${@[2,-1]}"); CURRENT=$#words
        source $1' zsh "$dir/_tindrel" tindrel "$@" | sort
}
check zsh "" "$commands" "$(zsh_complete "")"
check zsh "--settings " "$tabs" "$(zsh_complete --settings "")"
check zsh "--settings general " "" "$(zsh_complete --settings general "")"
check zsh "list --json " "--pinned" "$(zsh_complete list --json "")"
check zsh "--pair 90 " "--no-wait" "$(zsh_complete --pair 90 "")"
echo "completions checked"
