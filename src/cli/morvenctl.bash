# bash completion for morvenctl
_morvenctl()
{
    local cur prev words cword
    _init_completion || return

    local commands="convert flash ping erase sim help"
    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    local link="--tcp --serial --baud --reply-timeout --wait-timeout --probe-interval --timeout --json --quiet --help"
    case $prev in
        --format|--convert)
            COMPREPLY=($(compgen -W "o w pw" -- "$cur"))
            return ;;
        --serial)
            COMPREPLY=($(compgen -f -- "${cur:-/dev/tty}"))
            return ;;
        --baud)
            COMPREPLY=($(compgen -W "9600 19200 38400 57600 115200" -- "$cur"))
            return ;;
        -o|--output|--save)
            _filedir
            return ;;
        --tcp|--reply-timeout|--wait-timeout|--probe-interval|--timeout|--reject|--delay|--drop-after|--power-up-after|--idle|--erase-status)
            return ;;
    esac

    local opts
    case ${words[1]} in
        convert) opts="--format --output --help" ;;
        flash) opts="$link --no-wait --no-erase --o-download --convert" ;;
        ping) opts="$link" ;;
        erase) opts="$link --data --wait" ;;
        sim) opts="--tcp --pty --erase-status --reject --delay --split --drop-after --silent --power-up-after --baud --idle --save --verbose --help" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$opts" -- "$cur"))
    else
        _filedir
    fi
}
complete -F _morvenctl morvenctl
