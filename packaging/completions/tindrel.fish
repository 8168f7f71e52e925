# fish completion for tindrel: the commands of `tindrel --help`, the
# settings tabs after --settings and each command's own options.
complete -c tindrel -f

function __tindrel_first
    test (count (commandline -opc)) -eq 1
end
function __tindrel_after
    set -l words (commandline -opc)
    test (count $words) -ge 2; and test "$words[2]" = "$argv[1]"
end

complete -c tindrel -n __tindrel_first -l toggle-panel -d 'Open the panel, or close it when open'
complete -c tindrel -n __tindrel_first -l show-panel -d 'Open the panel'
complete -c tindrel -n __tindrel_first -l pause -d 'Stop recording copies'
complete -c tindrel -n __tindrel_first -l resume -d 'Restart recording copies'
complete -c tindrel -n __tindrel_first -l toggle-pause -d 'Pause, or resume when paused'
complete -c tindrel -n __tindrel_first -l settings -d 'Open the settings'
complete -c tindrel -n __tindrel_first -l pair -d 'Open a pairing window'
complete -c tindrel -n __tindrel_first -l join -d 'Pair with the computer that shows a code or link'
complete -c tindrel -n __tindrel_first -s h -l help -d 'Show the help'
complete -c tindrel -n __tindrel_first -s v -l version -d 'Show the version'
complete -c tindrel -n __tindrel_first -a list -d 'The pinned clips, then the history'
complete -c tindrel -n __tindrel_first -a copy -d 'Put a clip on the clipboard'
complete -c tindrel -n __tindrel_first -a add -d 'Record text as if it had been copied'
complete -c tindrel -n __tindrel_first -a pin -d 'Pin a clip'
complete -c tindrel -n __tindrel_first -a unpin -d 'Unpin a clip'
complete -c tindrel -n __tindrel_first -a delete -d 'Delete a clip'
complete -c tindrel -n __tindrel_first -a clear -d 'Clear the history (pinned clips stay)'
complete -c tindrel -n __tindrel_first -a quit -d 'End Tindrel'
complete -c tindrel -n __tindrel_first -a devices -d 'The paired devices'
complete -c tindrel -n __tindrel_first -a pause-device -d 'Pause sync with a paired device'
complete -c tindrel -n __tindrel_first -a resume-device -d 'Resume sync with a paired device'
complete -c tindrel -n __tindrel_first -a unpair -d 'Forget a paired device'
complete -c tindrel -n __tindrel_first -a help -d 'Show the help'

complete -c tindrel -n '__tindrel_after --settings; and test (count (commandline -opc)) -eq 2' \
    -a 'general history shortcuts sync appearance privacy storage about'
complete -c tindrel -n '__tindrel_after list; and not __fish_seen_argument -l pinned' -l pinned -d 'Only the pinned clips'
complete -c tindrel -n '__tindrel_after list; and not __fish_seen_argument -l json' -l json -d 'As JSON'
complete -c tindrel -n '__tindrel_after devices; and not __fish_seen_argument -l json' -l json -d 'As JSON'
complete -c tindrel -n '__tindrel_after --pair' -l no-wait -d 'Do not wait for a computer to pair'
