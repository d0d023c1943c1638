# bash completion for tessaly-slurm
_tessaly_slurm() {
    local cur prev i
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    # After "--" come tessaly-convert's own options.
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            declare -F _tessaly_convert >/dev/null || _completion_loader tessaly-convert >/dev/null 2>&1
            declare -F _tessaly_convert >/dev/null && _tessaly_convert
            return
        fi
    done
    case $prev in
        --parts)
            COMPREPLY=($(compgen -W "2 4 8 16 32" -- "$cur")); return ;;
        --format)
            COMPREPLY=($(compgen -W "mp4 m4v mov webm flv avi mpg mpeg ogg ogv" -- "$cur")); return ;;
        -o|--output)
            COMPREPLY=($(compgen -f -- "$cur")); compopt -o filenames 2>/dev/null; return ;;
        -p|--partition)
            COMPREPLY=($(compgen -W "$(sinfo -h -o %R 2>/dev/null)" -- "$cur")); return ;;
        -J|--job-name|-t|--time|-c|--cpus-per-task|--mem|-A|--account|--qos|--mail-type|--mail-user)
            return ;;
        --join-cpus)
            COMPREPLY=($(compgen -W "1 2 4" -- "$cur")); return ;;
        --join-mem)
            COMPREPLY=($(compgen -W "500M 1G 2G 4G" -- "$cur")); return ;;
        --join-time)
            COMPREPLY=($(compgen -W "10 30 1:00:00 2:00:00" -- "$cur")); return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--parts --wait --keep-parts --format --output --job-name --join-cpus --join-mem
            --join-time --partition --time --cpus-per-task --mem --account --qos --mail-type --mail-user --hold
            --nice= --exclusive --help --" -- "$cur"))
        [[ ${COMPREPLY[0]:-} == *= ]] && compopt -o nospace 2>/dev/null
        return
    fi
    COMPREPLY=($(compgen -f -X '!*.@(avi|asf|mpg|mpeg|mov|qt|m2ts|mts|m2t|tod|mp4|m4v|mkv|flv|ogg|ogv|webm|AVI|ASF|MPG|MPEG|MOV|QT|M2TS|MTS|M2T|TOD|MP4|M4V|FLV|OGG|OGV|WEBM|MKV)' -- "$cur"))
    COMPREPLY+=($(compgen -d -- "$cur"))
    compopt -o filenames 2>/dev/null
}
complete -F _tessaly_slurm tessaly-slurm
