# bash completion for tessarine-cli: modes, filter names from the user's data
# folder, options, and folders.

# The data folder whose *.dat files are the user's filters: that of
# --user-folder when given, else the one tessarine-cli itself would use.
_tessarine_cli_data_folder()
{
    local i user_folder=""
    for ((i = 1; i < ${#COMP_WORDS[@]} - 1; i++)); do
        case ${COMP_WORDS[i]} in
            --user-folder) user_folder=${COMP_WORDS[i + 1]} ;;
            --user-folder=*) user_folder=${COMP_WORDS[i]#--user-folder=} ;;
        esac
    done
    if [[ -n $user_folder ]]; then
        printf '%s\n' "${user_folder/#\~/$HOME}/data"
        return
    fi
    local login program folder
    login=$(id -un 2>/dev/null)
    # A program folder that is not installed keeps its users beside it.
    program=$(command -v tessarine-cli 2>/dev/null) && program=$(readlink -f "$program" 2>/dev/null)
    folder=${program%/*}
    if [[ -n $program && ! -e $folder/installed && -d $folder/user/$login ]]; then
        printf '%s\n' "$folder/user/$login/data"
        return
    fi
    # A relative XDG_DATA_HOME does not count, as in the program.
    local base=$HOME/.local/share
    [[ ${XDG_DATA_HOME:-} == /* ]] && base=$XDG_DATA_HOME
    printf '%s\n' "$base/tessarine/user/$login/data"
}

_tessarine_cli()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    local modes="copy zip zip-pass lha 7z 7z-pass filelist folderlist"
    local options="--mode --dest --filter --no-filter --hidden-folders --no-hidden-folders --hidden-files
        --no-hidden-files --stamp --underscore --no-underscore --open --user-folder --quiet --verbose
        --dry-run --help --version"

    # --option=VALUE is completed as "--option" "VALUE"; bash itself may
    # have split it into "--option" "=" "VALUE".
    local option=$prev value=$cur prefix=""
    if [[ $cur == = ]]; then
        value=""
    elif [[ $prev == = && $COMP_CWORD -ge 2 ]]; then
        option=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ $cur == --*=* ]]; then
        option=${cur%%=*}
        value=${cur#*=}
        prefix=$option=
    elif [[ $cur == -[mdf]?* && $prev != -[mdf] ]]; then
        option=${cur:0:2}
        value=${cur:2}
        prefix=$option
    fi

    local IFS=$'\n'
    case $option in
        -m | --mode)
            IFS=$' \t\n'
            COMPREPLY=($(compgen -P "$prefix" -W "$modes" -- "$value"))
            return
            ;;
        -f | --filter)
            local data name names=()
            data=$(_tessarine_cli_data_folder)
            for name in "$data"/*.dat; do
                [[ -f $name ]] || continue
                name=${name##*/}
                names+=("${name%.dat}")
            done
            COMPREPLY=($(compgen -P "$prefix" -W "${names[*]}" -- "$value"))
            compopt -o filenames 2>/dev/null
            return
            ;;
        --stamp)
            IFS=$' \t\n'
            COMPREPLY=($(compgen -P "$prefix" -W "long short" -- "$value"))
            return
            ;;
        -d | --dest | --user-folder)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -P "$prefix" -d -- "$value"))
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        IFS=$' \t\n'
        COMPREPLY=($(compgen -W "$options -m -d -f -q -v -n -h" -- "$cur"))
        return
    fi
    # The folder to work on; a file stands for its folder.
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -- "$cur"))
}

complete -F _tessarine_cli tessarine-cli
