# bash completion for tessaly-convert
_tessaly_convert() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --params|--job|--save-job)
            COMPREPLY=($(compgen -f -- "$cur")); compopt -o filenames 2>/dev/null; return ;;
        --temp)
            COMPREPLY=($(compgen -d -- "$cur")); compopt -o filenames 2>/dev/null; return ;;
        --stills)
            COMPREPLY=($(compgen -W "jpg bmp" -- "$cur")); return ;;
        --quality)
            COMPREPLY=($(compgen -W "$(echo {0..21})" -- "$cur")); return ;;
        --resize)
            COMPREPLY=($(compgen -W "0 1 2 3 4 5" -- "$cur")); return ;;
        --sharpen)
            COMPREPLY=($(compgen -W "off 0 1 2 3 4 5" -- "$cur")); return ;;
        --noise)
            COMPREPLY=($(compgen -W "1 2 3 4 5" -- "$cur")); return ;;
        --lens)
            COMPREPLY=($(compgen -W "equidistant equisolid stereographic orthographic" -- "$cur")); return ;;
        --fov)
            COMPREPLY=($(compgen -W "180 190 200 220" -- "$cur")); return ;;
        --stereo)
            COMPREPLY=($(compgen -W "sbs tb pair" -- "$cur")); return ;;
        --stereo-out)
            COMPREPLY=($(compgen -W "sbs tb" -- "$cur")); return ;;
        --right-offset)
            return ;;
        --left-yaw|--left-pitch|--left-roll|--right-yaw|--right-pitch|--right-roll)
            return ;;
        --cut|--circle|--brightness|--contrast|--cpu|--yaw|--pitch|--roll|--part|--encoder-stall|--camera|--crop-factor|--focal|--aperture|--list-lenses)
            return ;;
        --lens-profile)
            local IFS=$'\n'
            COMPREPLY=($(compgen -W "$(tessaly-convert --list-lenses fisheye 2>/dev/null | sed 's/ (.*//')" -- "$cur"))
            return ;;
        --lens-file)
            COMPREPLY=($(compgen -f -X '!*.xml' -- "$cur")); compopt -o filenames 2>/dev/null; return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--params --cut --circle --sharpen --brightness --contrast --noise --cpu
            --flip --aspect --lens --fov --yaw --pitch --roll --lens-profile --camera --crop-factor --focal --aperture
            --lens-file --list-lenses --stills --quality --resize --temp --keep-stills --no-vr-metadata
            --part --join --job --save-job --check-options --encoder-stall --strict --help --version
            --stereo --right-offset --stereo-out --swap-eyes --align-eyes --no-align-eyes
            --left-yaw --left-pitch --left-roll --right-yaw --right-pitch --right-roll" -- "$cur"))
        return
    fi
    # Movies: the input types the desktop program opens and the output containers.
    COMPREPLY=($(compgen -f -X '!*.@(avi|asf|mpg|mpeg|mov|qt|m2ts|mts|m2t|tod|mp4|m4v|mkv|flv|ogg|ogv|webm|AVI|ASF|MPG|MPEG|MOV|QT|M2TS|MTS|M2T|TOD|MP4|M4V|FLV|OGG|OGV|WEBM|MKV)' -- "$cur"))
    COMPREPLY+=($(compgen -d -- "$cur"))
    compopt -o filenames 2>/dev/null
}
complete -F _tessaly_convert tessaly-convert
