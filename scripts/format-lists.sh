#!/bin/bash
# Writes the list of input formats into the README and the package description, from the table
# of formats (tessary-vol --format-list): between the "formats: begin" and "formats: end" marks
# of each. formats_test fails while either differs from the table.
# usage: scripts/format-lists.sh [TESSARY_VOL]   (default: build/converter/tessary-vol)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$root/build/converter/tessary-vol}
list=$("$tool" --format-list)
/usr/bin/python3 - "$root" "$list" <<'PYTHON'
import re, sys, textwrap
root, names = sys.argv[1], sys.argv[2]

def rewrite(path, begin, end, text):
    with open(path) as f:
        old = f.read()
    pattern = re.compile("(" + re.escape(begin) + r"[^\n]*\n)(.*?)(" + re.escape(end) + ")", re.S)
    if not pattern.search(old):
        sys.exit(f"{path}: no '{begin}' ... '{end}' marks")
    new = pattern.sub(lambda m: m.group(1) + text + m.group(3), old, count=1)
    with open(path, "w") as f:
        f.write(new)

# The README's line (Markdown, lines of at most 100 columns).
rewrite(f"{root}/README.md", "<!-- formats: begin", "<!-- formats: end",
        textwrap.fill(f"`pack` reads {names}.", 100, break_on_hyphens=False) + "\n")
# The package's (a CMake string; Debian's tools show lines of at most 79 columns).
rewrite(f"{root}/packaging/CMakeLists.txt", "# formats: begin", "# formats: end",
        "set(converter_reads\n    \"" +
        "\n".join(textwrap.wrap(names, 75, break_on_hyphens=False)) + "\")\n")
PYTHON
