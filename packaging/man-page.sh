#!/bin/sh
# man-page.sh <program> <summary> <changelog> <output.1.gz>
# Writes the manual page of <program> from what its --help prints, so the
# page and the help cannot say different things. The version and the date
# come from the newest changelog entry, which keeps the page reproducible.
#
# The help is read as: "Usage: NAME ARGS" first, then the description;
# lines "  TERM  TEXT" are items, deeper-indented lines continue the item
# above, a lone "Word:" line opens a section, any other line is running text.
set -eu
program=$1 summary=$2 changelog=$3 output=$4
name=$(basename "$program")
version=$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' "$changelog")
released=$(sed -n 's/^ -- .*>  //p' "$changelog" | head -n 1)
date=$(LC_ALL=C date -u -d "$released" +%Y-%m-%d)

# In English whatever the builder's locale: the page is installed as the
# untranslated one.
help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u LANGUAGE LC_ALL=C.UTF-8 "$program" --help)
printf '%s\n' "$help" |
    awk -v name="$name" -v summary="$summary" -v version="$version" -v date="$date" '
    function esc(s) {
        gsub(/\\/, "\\e", s)
        gsub(/-/, "\\-", s)
        if (s ~ /^[.'\'']/) s = "\\&" s
        return s
    }
    { line[NR] = $0 }
    END {
        upper = toupper(name); gsub(/-/, "\\-", upper)
        printf ".TH %s 1 %s \"%s %s\" \"User Commands\"\n", upper, date, "Tindrel", version
        print ".SH NAME"
        print esc(name) " \\- " esc(summary)
        i = 1
        if (line[1] ~ /^Usage: /) {
            print ".SH SYNOPSIS"
            usage = substr(line[1], 8)
            sub(/^[^ ]+/, "", usage)
            print "\\fB" esc(name) "\\fR" esc(usage)
            i = 2
        }
        print ".SH DESCRIPTION"
        paragraph = 0
        for (; i <= NR; i++) {
            l = line[i]
            if (l ~ /^[ \t]*$/) { paragraph = 0; continue }
            if (l ~ /^[A-Z][A-Za-z ]*:$/) {
                print ".SH " toupper(substr(l, 1, length(l) - 1))
                paragraph = 0
                continue
            }
            if (l ~ /^  [^ ]/) {
                rest = substr(l, 3)
                gap = match(rest, /  +/)
                term = gap ? substr(rest, 1, gap - 1) : rest
                text = gap ? substr(rest, gap + RLENGTH) : ""
                print ".TP"
                print "\\fB" esc(term) "\\fR"
                if (text != "") print esc(text)
                paragraph = 2
                continue
            }
            if (l ~ /^   /) {
                sub(/^ +/, "", l)
                print esc(l)
                continue
            }
            if (paragraph != 1) print ".PP"
            paragraph = 1
            print esc(l)
        }
    }' | gzip -9n >"$output.tmp"
mv "$output.tmp" "$output"
