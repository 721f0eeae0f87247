#!/usr/bin/env bash
# tests/check_links.sh CHECK_LINKS_SCRIPT: scripts/check-links.sh finds every
# broken relative link and anchor of a page, names each, and passes sound
# ones. One row a case: its name, the exit code expected, the lines that
# must be in the output (one a line, may be none), then the page's text.
# Every page sits beside other.md and a folder, sub/, to link to.
set -uo pipefail

check=$(realpath "${1:?usage: $0 path/to/check-links.sh}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passed=0

cat >"$work/other.md" <<'MD'
# Other page

## Пусконаладка объекта

## What "verified" means

## The bridge's service: a permanent port

## Exit codes of `register`

## Tests

### Tests

## ORDAN_QT_MAJOR and *emphasis*

<a name="kept-by-hand"></a>

```sh
# Not a heading
```
MD
mkdir -p "$work/sub"
touch "$work/sub/picture.png"

# row NAME EXPECTED_EXIT EXPECTED_LINES PAGE_TEXT
row() {
    local name=$1 expected=$2 lines=$3 page=$work/page.md out rc line ok=yes
    printf '%s\n' "$4" >"$page"
    out=$(cd "$work" && bash "$check" page.md 2>&1)
    rc=$?
    [[ $rc -eq $expected ]] || ok=''
    while IFS= read -r line; do
        [[ -z $line ]] || grep -qxF -- "$line" <<<"$out" || ok=''
    done <<<"$lines"
    if [[ -n $ok ]]; then
        passed=$((passed + 1))
        echo "PASS   : $name"
    else
        failures=$((failures + 1))
        echo "FAIL!  : $name (exit $rc, expected $expected)"
        printf '%s\n' "$out" | sed 's/^/    /'
    fi
}

row "a file, a folder, an image" 0 "" \
    '[other](other.md) [folder](sub) ![shot](sub/picture.png) [up](./sub/../other.md)'
row "anchors by GitHub's rules" 0 "" \
    '[a](other.md#пусконаладка-объекта) [b](other.md#what-verified-means)
[c](other.md#the-bridges-service-a-permanent-port) [d](other.md#exit-codes-of-register)
[e](other.md#tests) [f](other.md#tests-1) [g](other.md#ordan_qt_major-and-emphasis)
[h](other.md#kept-by-hand)'
row "an anchor of its own page" 0 "" \
    '# A page: its title

[top](#a-page-its-title)'
row "a link across two lines" 0 "" \
    'see [the
other page](other.md#tests)'
row "a reference definition" 0 "" \
    '[other][o]

[o]: other.md#tests'
row "links in code are no links" 0 "" \
    '`[a](missing.md)` and

```md
[b](missing.md)
```'
row "other schemes are not fetched" 0 "" \
    '[web](https://ordan.invalid/x) [mail](mailto:support@ordan.invalid)'
row "a missing file" 1 "page.md:1: missing.md: no such file or folder" \
    '[gone](missing.md)'
row "a missing image" 1 "page.md:3: sub/shot.png: no such file or folder" \
    'text

![shot](sub/shot.png)'
row "a missing anchor in another page" 1 \
    "page.md:1: other.md#not-there: no heading with the anchor #not-there in other.md" \
    '[x](other.md#not-there)'
row "a heading in code is no anchor" 1 \
    "page.md:1: other.md#not-a-heading: no heading with the anchor #not-a-heading in other.md" \
    '[x](other.md#not-a-heading)'
row "an anchor with the punctuation kept" 1 \
    "page.md:1: other.md#the-bridge's-service: no heading with the anchor #the-bridge's-service in other.md" \
    "[x](other.md#the-bridge's-service)"
row "a missing anchor of its own page" 1 \
    "page.md:3: #elsewhere: no heading with the anchor #elsewhere in page.md" \
    '# Here

[x](#elsewhere)'
row "a broken reference definition" 1 "page.md:3: missing.md: no such file or folder" \
    '[x][m]

[m]: missing.md'
row "each broken one named" 1 "page.md:1: a.md: no such file or folder
page.md:2: b.md#x: no such file or folder
page.md:3: other.md#c: no heading with the anchor #c in other.md
3 broken links" \
    '[a](a.md)
[b](b.md#x) [fine](other.md)
[c](other.md#c)'

# Bad arguments.
bad_args() {
    local name=$1 out rc
    shift
    out=$(bash "$check" "$@" 2>&1)
    rc=$?
    if [[ $rc -eq 2 ]]; then
        passed=$((passed + 1))
        echo "PASS   : $name"
    else
        failures=$((failures + 1))
        echo "FAIL!  : $name (exit $rc, expected 2)"
        printf '%s\n' "$out" | sed 's/^/    /'
    fi
}
bad_args "a file that is not there" "$work/none.md"
bad_args "an unknown option" --fetch

echo "Totals: $passed passed, $failures failed"
((failures == 0))
