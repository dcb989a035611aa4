# bash completion for vellora

_vellora()
{
    local cur prev words cword
    _init_completion -s || return # -s: "--store=FILE" completes as "--store FILE"

    case $prev in
        --block)
            COMPREPLY=($(compgen -W 'big medium small' -- "$cur"))
            return
            ;;
        --store)
            _filedir
            return
            ;;
    esac

    local commands='today backlog add edit done delete up down bring new-day toggle sync account help'
    local command='' i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --store | --block) ((i++)) ;;
            -*) ;;
            *) command=${words[i]} && break ;;
        esac
    done

    if [[ $cur == -* ]]; then
        local options='--json --store --help'
        [[ $command == add ]] && options+=' --block'
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    elif [[ $command == account && $prev == account ]]; then
        COMPREPLY=($(compgen -W 'sign-in status sign-out passphrase recovery-key link' -- "$cur"))
    fi
} &&
    complete -F _vellora vellora
