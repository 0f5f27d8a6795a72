# bash completion for lousa: commands, each command's options (read from its
# own --help, so they never fall behind), and the files each command takes.

_lousa() {
    local cur prev words cword
    _init_completion || return
    local tool=${words[0]}

    if [[ $cword -eq 1 ]]; then
        local commands
        commands=$("$tool" --help 2>/dev/null | awk '/^commands:/ {on = 1; next} on && /^  [a-z]/ {print $1} /^$/ {on = 0}')
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi
    local command=${words[1]}

    case $prev in
        -o|--stub) _filedir; return ;;
        --sandbox) _filedir -d; return ;;
        --name|--limit) return ;;
    esac
    if [[ $cur == -* ]]; then
        local options
        options=$("$tool" "$command" --help 2>/dev/null | grep -oE -- '(^| |\[)--?[a-z][a-z-]*' | tr -d ' [' | sort -u)
        COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
        return
    fi
    case $command in
        asm) _filedir '@(lst|LST)' ;;                   # listings
        extract) _filedir '@(exe|EXE|Exe)' ;;            # classroom executables (any packed file works too)
        *) _filedir ;;                                  # listings, code texts, executables, folders
    esac
}
complete -F _lousa lousa
