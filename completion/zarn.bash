# Bash completion for zarn. Stands alone: needs nothing from the
# bash-completion package, though that package loads it on demand.

_zarn_commands=(
    -b --reboot -B --forcedReboot -c --getCpuid -C --getTemp -D --setdns -d --getdns
    -E --setip -e --getip -f --forcedShutdown -H --getHost -h --hbpoll -J --setRuvo
    -j --getRuvo -L --getversion -o --setZarnPort -O --getZarnPort -p --mcpoll
    -s --shutdown -T --getTime -v --getfeatures
)
# These act at once, so they make sense only before a command.
_zarn_immediate=(--configRuvo '-?' --help --version)
_zarn_parameters=(
    -a --addr -g --gateway -i --interface -I --hostIp -l --level -m --mask
    -n --filename -t --metric -w --wait
)

# Completes the argument of option $1 into COMPREPLY; false when $1 takes none.
_zarn_argument() {
    local option=$1 cur=$2
    case $option in
        -n | --filename)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            ;;
        -I | --hostIp)
            mapfile -t COMPREPLY < <(compgen -A hostname -- "$cur")
            ;;
        -a | --addr | -c | --getCpuid | -g | --gateway | -h | --hbpoll | -i | --interface | \
            -l | --level | -m | --mask | -o | --setZarnPort | -p | --mcpoll | -t | --metric | \
            -w | --wait)
            COMPREPLY=()
            ;;
        *) return 1 ;;
    esac
}

# True when a word before the one being completed is a command option.
_zarn_has_command() {
    local i command
    for ((i = 1; i < COMP_CWORD; i++)); do
        for command in "${_zarn_commands[@]}"; do
            [[ ${COMP_WORDS[i]} == "$command" ]] && return 0
        done
    done
    return 1
}

_zarn() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    # With '=' among the word breaks, --filename=x arrives as three words.
    if [[ $cur == = ]]; then
        _zarn_argument "$prev" ""
        return 0
    fi
    if [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
        _zarn_argument "${COMP_WORDS[COMP_CWORD - 2]}" "$cur"
        return 0
    fi
    if _zarn_argument "$prev" "$cur"; then
        return 0
    fi

    local -a offered=("${_zarn_parameters[@]}")
    if ! _zarn_has_command; then
        offered=("${_zarn_commands[@]}" "${_zarn_immediate[@]}" "${offered[@]}")
    fi
    local option
    for option in "${offered[@]}"; do
        [[ $option == "$cur"* ]] && COMPREPLY+=("$option")
    done
    return 0
}

complete -F _zarn zarn
