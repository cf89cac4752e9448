# Shared by the packaging tests (sourced): the options a program's usage text
# names. usage_options TEXT prints each once, one per line, from the lines
# that begin with an option: the long forms (--name) and the short letters
# (-x; -vN gives -v).
usage_options() {
    local headings
    headings=$(printf '%s\n' "$1" | grep -E '^ *-')
    printf '%s\n' "$headings" | grep -oE -- '(^|[ ,])--[a-z][a-z-]*[a-z]' | grep -oE -- '--.*' | sort -u
    printf '%s\n' "$headings" | grep -oE -- '(^|[ ,])-[A-Za-z]' | grep -oE -- '-[A-Za-z]' | sort -u
}
