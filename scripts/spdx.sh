#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Gives every source file of the tree its licence line, SPDX-License-Identifier: Apache-2.0,
# as its first line (after a "#!" line): "//" in C++, "#" in CMake, shell and Python. A file
# that has the line is left as it is, so running it again changes nothing.
# Usage: spdx.sh           add the line where it is missing
#        spdx.sh --check   change nothing; list the files without it and fail if there are any
set -euo pipefail
cd "$(dirname "$0")/.."
check=false
case "${1-}" in
    --check) check=true ;;
    "") ;;
    *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac
identifier='SPDX-License-Identifier: Apache-2.0'

# The tree's files: git's (tracked, and new ones not ignored), or outside a clone every file
# but the build trees'.
files() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files --cached --others --exclude-standard
    else
        find . -path './build*' -prune -o -path ./.git -prune -o -type f -print | sed 's|^\./||'
    fi
}

# The comment that starts a file's licence line, or nothing for a file that is not source.
comment_of() {
    case "$1" in
        *.cpp | *.cc | *.h | *.hpp) echo '//' ;;
        CMakeLists.txt | */CMakeLists.txt | *.cmake | *.sh | *.bash | *.py) echo '#' ;;
        packaging/bash-completion/*) echo '#' ;;
        *) [[ -f $1 ]] && head -c 64 "$1" | head -n1 | grep -qE '^#!.*(sh|python3?)( |$)' && echo '#' ;;
    esac
    return 0
}

missing=()
while IFS= read -r file; do
    [[ -f $file ]] || continue # deleted, not yet committed
    comment=$(comment_of "$file")
    [[ -n $comment ]] || continue
    line="$comment $identifier"
    first=$(head -n1 "$file")
    where=1
    [[ $first == '#!'* ]] && where=2
    [[ $(sed -n "${where}p" "$file") == "$line" ]] && continue
    if $check || head -n5 "$file" | grep -q 'SPDX-License-Identifier:'; then
        # One that names a licence elsewhere is for a person to look at, not to add to.
        missing+=("$file")
        continue
    fi
    new=$(mktemp)
    if ((where == 2)); then
        { echo "$first"; echo "$line"; tail -n +2 "$file"; } >"$new"
    else
        { echo "$line"; cat "$file"; } >"$new"
    fi
    cat "$new" >"$file" # keeps the file's mode
    rm -f "$new"
    echo "$file"
done < <(files)

if ((${#missing[@]})); then
    echo "Without the line \"$identifier\" first (after a #! line):" >&2
    printf '  %s\n' "${missing[@]}" >&2
    exit 1
fi
