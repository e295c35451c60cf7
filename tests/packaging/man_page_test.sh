#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# A program's manual page: it renders without a warning, has the sections a reader looks
# for, names every option the program's --help names, and documents no option the program
# does not know.
# Usage: man_page_test.sh PROGRAM PAGE
set -uo pipefail
program=$1
page=$2
name=$(basename "$program")
failures=0
fail() {
    echo "FAIL: $name: $*"
    ((failures++))
}

warnings=$(groff -man -ww -z "$page" 2>&1)
[[ -z $warnings ]] || fail "groff warns about $page: $warnings"
text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)

for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
    grep -qx "$section" <<<"$text" || fail "no $section section"
done

# The words of a text that are options: "-h", "--port1", "--json" out of "(see --json).".
options() { tr -s ' \t,;:.()[]|="<>' '\n' | grep -E -- '^--?[[:alnum:]][[:alnum:]-]*$' | sort -u; }

help=$("$program" --help 2>&1) || fail "--help failed"
helped=$(options <<<"$help")
[[ -n $helped ]] || fail "--help names no option"
for option in $helped; do
    grep -qE -- "(^|[^[:alnum:]-])$option([^[:alnum:]-]|\$)" <<<"$text" ||
        fail "$option is in --help but not in the manual page"
done

# The page's option entries: the tags at the section's indent under OPTIONS.
documented=$(sed -n '/^OPTIONS$/,/^[A-Z]/p' <<<"$text" | grep -E '^ {7}-' | options)
[[ -n $documented ]] || fail "the OPTIONS section lists no option"
for option in $documented; do
    grep -qx -- "$option" <<<"$helped" || fail "the page documents $option, which --help does not name"
done
((failures == 0))
