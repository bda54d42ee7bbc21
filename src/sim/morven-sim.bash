# bash completion for morven-sim: its options come from its own --help, so they never drift
_morven_sim()
{
    local cur prev words cword
    _init_completion || return
    case $prev in
        --save)
            _filedir
            return ;;
        --tcp|--erase-status|--reject|--delay|--drop-after|--power-up-after|--baud|--idle)
            return ;;
    esac
    COMPREPLY=($(compgen -W '$(_parse_help "$1")' -- "$cur"))
}
complete -F _morven_sim morven-sim
