#!/bin/bash
# The include rules of src/: the property panels and the libraries use the
# shared words in values/, not render/ or timeline/ headers; nothing outside
# main/ includes main/. Prints each breach as "file:line: rule" and exits 1.
#   include-rules.sh SRC_DIR    check a tree
#   include-rules.sh --self     check that planted breaches are all found
set -u

check() {
    local src=$1 breaches=0 hdr file line rest rel inc why
    # Headers of main/ that a file elsewhere could name bare ("zyapp.h").
    local -A main_headers=()
    while IFS= read -r hdr; do
        main_headers[${hdr##*/}]=1
    done < <(find "$src/main" -name '*.h' 2>/dev/null)

    local re='^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)"'
    while IFS=: read -r file line rest; do
        [[ $rest =~ $re ]] || continue
        inc=${BASH_REMATCH[1]}
        rel=${file#"$src"/}
        why=""
        case $rel in
        menu/* | resource/*)
            case $inc in
            render/*) why="a panel or library includes a render header" ;;
            timeline/*) why="a panel or library includes a timeline header" ;;
            esac
            ;;
        esac
        case $rel in
        main/*) ;;
        *)
            if [[ $inc == main/* ]]; then
                why="a file outside main/ includes main/"
            elif [[ $inc != */* && -n ${main_headers[$inc]:-} && ! -e ${file%/*}/$inc ]]; then
                why="a file outside main/ includes a main/ header by its bare name"
            fi
            ;;
        esac
        if [ -n "$why" ]; then
            echo "src/$rel:$line: $why: \"$inc\""
            breaches=$((breaches + 1))
        fi
    done < <(grep -rn --include='*.h' --include='*.cpp' '#[[:space:]]*include' "$src" | sort -t: -k1,1 -k2,2n)
    return $((breaches > 0))
}

self_check() {
    tree=""
    tree=$(mktemp -d) || exit 1
    trap 'rm -rf "$tree"' EXIT
    mkdir -p "$tree/main/setting" "$tree/menu" "$tree/resource/project" "$tree/render" "$tree/timeline"
    printf '#pragma once\n' >"$tree/main/zyapp.h"
    printf '#include "main/zyapp.h"\n#include "zyapp.h"\n' >"$tree/main/setting/dialog.cpp"
    printf '#include "values/frame-info.h"\n#include "render/preview-requests.h"\n' >"$tree/menu/crop-view.h"
    printf '// #include "render/x.h" is only a comment\n#include "timeline/timeline-units.h"\n' >"$tree/resource/project/list.cpp"
    printf '#include "main/zyapp.h"\n' >"$tree/render/item.cpp"
    printf '#include "zyapp.h"\n#include <zyapp.h>\n' >"$tree/timeline/view.cpp"
    local out
    out=$(check "$tree")
    local expected="src/menu/crop-view.h:2: a panel or library includes a render header: \"render/preview-requests.h\"
src/render/item.cpp:1: a file outside main/ includes main/: \"main/zyapp.h\"
src/resource/project/list.cpp:2: a panel or library includes a timeline header: \"timeline/timeline-units.h\"
src/timeline/view.cpp:1: a file outside main/ includes a main/ header by its bare name: \"zyapp.h\""
    if [ "$out" != "$expected" ]; then
        echo "the include check found:"
        echo "$out"
        echo "where it should have found:"
        echo "$expected"
        exit 1
    fi
    echo "the include check finds every planted breach"
}

case ${1:-} in
--self) self_check ;;
"") echo "usage: $0 SRC_DIR | --self" >&2; exit 2 ;;
*)
    [ -d "$1/main" ] || { echo "$1 is not the program's source folder" >&2; exit 2; }
    if check "$1"; then
        echo "include rules hold"
    else
        exit 1
    fi
    ;;
esac
