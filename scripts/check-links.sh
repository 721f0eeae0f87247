#!/usr/bin/env bash
# Checks that every relative link and #anchor of the guides resolves: in
# README.md and docs/*.md, or in the Markdown files given. A link to a file
# or folder must name one that is there (relative to the page); an anchor
# must name a heading of its page (or an id="..." / name="..." there) by
# GitHub's rules: the heading's text in lower case, spaces to '-', other
# punctuation dropped, letters of any script kept, a repeated heading's
# anchor numbered (-1, -2, ...). Links in code are not links. Links with a
# scheme (https:, mailto:) are not fetched: nothing goes on the network.
# Prints each broken link as FILE:LINE: TARGET: why, and exits 1 when there
# is one, 2 for bad arguments.
#   scripts/check-links.sh [FILE.md...]
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
case "${1:-}" in
-h | --help)
    sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'
    exit 0
    ;;
-*)
    echo "usage: $0 [FILE.md...]" >&2
    exit 2
    ;;
esac
if (($# == 0)); then
    set -- "$repo/README.md" "$repo"/docs/*.md
fi
command -v python3 >/dev/null || {
    echo "$0: python3 is needed (scripts/install-deps.sh installs it)" >&2
    exit 2
}

exec python3 - "$@" <<'PY'
import os
import re
import sys
import unicodedata

FENCE = re.compile(r'^\s*(`{3,}|~{3,})')
HEADING = re.compile(r'^ {0,3}(#{1,6})[ \t]+(.*?)[ \t#]*$')
INLINE_LINK = re.compile(r'!?\[((?:[^\[\]]|\[[^\]]*\])*)\]\(\s*(<[^>]*>|[^\s)]*)(?:\s+"[^"]*")?\s*\)')
REFERENCE = re.compile(r'^ {0,3}\[[^\]]+\]:\s*(<[^>]*>|\S+)', re.M)
HTML_ID = re.compile(r'\b(?:id|name)\s*=\s*"([^"]+)"')
SCHEME = re.compile(r'^[A-Za-z][A-Za-z0-9+.-]*:')


def without_code(text):
    """The text with fenced blocks and inline code blanked out, lines kept."""
    out = []
    fence = None
    for line in text.split('\n'):
        m = FENCE.match(line)
        if fence:
            if m and m.group(1)[0] == fence[0] and len(m.group(1)) >= len(fence):
                fence = None
            out.append('')
            continue
        if m:
            fence = m.group(1)
            out.append('')
            continue
        out.append(re.sub(r'(`+)(?:(?!\1).)+?\1', lambda s: ' ' * len(s.group(0)), line))
    return '\n'.join(out)


def slug(heading):
    """GitHub's anchor of a heading's text."""
    text = re.sub(r'!?\[((?:[^\[\]]|\[[^\]]*\])*)\]\([^)]*\)', r'\1', heading)  # links: their text
    text = re.sub(r'<[^>]+>', '', text)  # inline HTML
    text = text.replace('`', '')
    text = re.sub(r'(\*{1,3})(\S(?:.*?\S)?)\1', r'\2', text)  # emphasis
    text = re.sub(r'(?<!\w)(_{1,3})(\S(?:.*?\S)?)\1(?!\w)', r'\2', text)
    text = text.strip().lower()
    kept = []
    for ch in text:
        category = unicodedata.category(ch)
        if ch in '-_' or ch == ' ' or category[0] in 'LNM':
            kept.append('-' if ch == ' ' else ch)
    return ''.join(kept)


anchors_of = {}


def anchors(path):
    if path not in anchors_of:
        found = set()
        seen = {}
        with open(path, encoding='utf-8') as f:
            text = f.read()
        fence = None
        for line in text.split('\n'):
            m = FENCE.match(line)
            if fence:
                if m and m.group(1)[0] == fence[0] and len(m.group(1)) >= len(fence):
                    fence = None
                continue
            if m:
                fence = m.group(1)
                continue
            h = HEADING.match(line)
            if h:
                base = slug(h.group(2))
                n = seen.get(base, 0)
                seen[base] = n + 1
                found.add(base if n == 0 else '%s-%d' % (base, n))
            found.update(HTML_ID.findall(line))
        anchors_of[path] = found
    return anchors_of[path]


def check(page):
    problems = []
    with open(page, encoding='utf-8') as f:
        text = without_code(f.read())
    targets = [(m.start(2), m.group(2)) for m in INLINE_LINK.finditer(text)]
    targets += [(m.start(1), m.group(1)) for m in REFERENCE.finditer(text)]
    for offset, target in sorted(targets):
        line = text.count('\n', 0, offset) + 1
        target = target[1:-1] if target.startswith('<') else target
        if not target or SCHEME.match(target):
            continue
        where, _, anchor = target.partition('#')
        path = os.path.normpath(os.path.join(os.path.dirname(page), where)) if where else page
        why = None
        if not os.path.exists(path):
            why = 'no such file or folder'
        elif anchor and path.endswith('.md') and os.path.isfile(path):
            if anchor not in anchors(path):
                why = 'no heading with the anchor #%s in %s' % (anchor, os.path.relpath(path))
        if why:
            problems.append('%s:%d: %s: %s' % (os.path.relpath(page), line, target, why))
    return problems


problems = []
for page in sys.argv[1:]:
    if not os.path.isfile(page):
        print('%s: no such file' % page, file=sys.stderr)
        sys.exit(2)
    problems += check(page)
for p in problems:
    print(p, file=sys.stderr)
if problems:
    print('%d broken link%s' % (len(problems), '' if len(problems) == 1 else 's'), file=sys.stderr)
    sys.exit(1)
print('links: %d file%s checked, every link resolves' %
      (len(sys.argv) - 1, '' if len(sys.argv) == 2 else 's'))
PY
