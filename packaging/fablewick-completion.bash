# Bash completion for fablewick-make and fablewick-book.

_fablewick_make_options="--output --format --bitrate --sample-rate --channels --cover --order
  --titles --chapters --encoders --even-volume --dry-run --json --replace --each --out
  --skip-existing --layout --watch --settle --details --title --artist --album --album-artist --narrator
  --year --series --series-number --comment --description --help --version"

_fablewick_tag_fields="title artist album album-artist narrator year series series-number comment
  description cover"

_fablewick_make()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --format) COMPREPLY=($(compgen -W "m4b m4a mp3" -- "$cur")); return ;;
        --order) COMPREPLY=($(compgen -W "given track path" -- "$cur")); return ;;
        --titles) COMPREPLY=($(compgen -W "names tags" -- "$cur")); return ;;
        --even-volume) COMPREPLY=($(compgen -W "off book each" -- "$cur")); return ;;
        --channels) COMPREPLY=($(compgen -W "1 2" -- "$cur")); return ;;
        --each|--out|--watch) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$_fablewick_make_options" -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}

_fablewick_book()
{
    local cur prev verb options
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    if [[ $COMP_CWORD -eq 1 ]]; then
        COMPREPLY=($(compgen -W "info tag chapters split make --help --version" -- "$cur"))
        return
    fi
    verb=${COMP_WORDS[1]}
    case $verb in
        make) _fablewick_make; return ;;
        info) options="--json --help" ;;
        tag) options="--title --artist --album --album-artist --narrator --year --series
               --series-number --comment --description --cover --remove-cover --details --clear --output
               --dry-run --json --help" ;;
        chapters) options="--export --import --shift --after --retitle --find-silence --take
                    --silence --level --shortest --split-longer-than --output --dry-run --json
                    --help" ;;
        split) options="--out --as --bitrate --json --help" ;;
    esac
    case $prev in
        --clear) COMPREPLY=($(compgen -W "$_fablewick_tag_fields" -- "$cur")); return ;;
        --as) COMPREPLY=($(compgen -W "m4a mp3" -- "$cur")); return ;;
        --out) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}

complete -o filenames -F _fablewick_make fablewick-make
complete -o filenames -F _fablewick_book fablewick-book
