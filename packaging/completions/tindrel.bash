# bash completion for tindrel: the commands of `tindrel --help`, the
# settings tabs after --settings and each command's own options.
_tindrel() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local commands="--toggle-panel --show-panel --pause --resume --toggle-pause
        --settings list copy add pin unpin delete clear quit
        --pair --join devices pause-device resume-device unpair
        help --help -h --version -v"
    local options=""
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        options=$commands
    else
        case ${COMP_WORDS[1]} in
        --settings)
            ((COMP_CWORD == 2)) &&
                options="general history shortcuts sync appearance privacy storage about"
            ;;
        list) options="--pinned --json" ;;
        devices) options="--json" ;;
        --pair) options="--no-wait" ;;
        esac
    fi
    # Options already on the line are not offered again.
    local word i
    for ((i = 2; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        options=" $options "
        options=${options// $word / }
    done
    [ -n "$options" ] && mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return 0
}
complete -F _tindrel tindrel
