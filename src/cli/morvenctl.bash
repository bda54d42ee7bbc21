# bash completion for morvenctl
_morvenctl()
{
    local cur prev words cword
    _init_completion || return

    local commands="convert flash ping erase ports sim station records help"
    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi
    if [[ ${words[1]} == help ]]; then
        [[ $cword -eq 2 ]] && COMPREPLY=($(compgen -W "${commands% help}" -- "$cur"))
        return
    fi

    local link="--tcp --serial --baud --reply-timeout --wait-timeout --probe-interval --timeout --json --quiet
        --trace --log --help --version"
    local input="--format --input-format --address"
    case $prev in
        -f|--format|--convert)
            COMPREPLY=($(compgen -W "o w pw" -- "$cur"))
            return ;;
        --input-format)
            COMPREPLY=($(compgen -W "ihex srec bin" -- "$cur"))
            return ;;
        --serial)
            COMPREPLY=($(compgen -f -- "${cur:-/dev/tty}"))
            return ;;
        --result)
            COMPREPLY=($(compgen -W "running passed failed interrupted" -- "$cur"))
            return ;;
        --baud)
            COMPREPLY=($(compgen -W "9600 19200 38400 57600 115200" -- "$cur"))
            return ;;
        -o|--output|--save|--log|--records|--queue)
            _filedir
            return ;;
        --since|--station|--operator|--units|--recipe|--tcp|--address|--reply-timeout|--wait-timeout|--probe-interval|--timeout|--reject|--delay|--drop-after|--power-up-after|--idle|--erase-status)
            return ;;
    esac

    local opts
    case ${words[1]} in
        convert) opts="$input --output --help --version" ;;
        flash) opts="$link $input --force --no-wait --no-erase --o-download" ;;
        ping) opts="$link" ;;
        erase) opts="$link --data --wait" ;;
        ports) opts="--json --help --version" ;;
        station) opts="--records --queue --station --operator --units --json --help --version" ;;
        records) opts="--records --station --recipe --result --since --yield --json --csv --help --version" ;;
        sim) opts="--tcp --pty --erase-status --reject --delay --split --drop-after --silent --power-up-after --baud --idle --save --verbose --help --version" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$opts" -- "$cur"))
    else
        _filedir
    fi
}
complete -F _morvenctl morvenctl
