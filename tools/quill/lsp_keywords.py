#!/usr/bin/env python3
"""Writes the keyword lines that `quill lsp` shows on hover, taken from the
guides when quill is built: for each statement keyword, the first line of a
code example that begins with it, preferring the syntax line (not
indented, with operands) over an example.  docs/language.md comes first;
the guides to files and tables and to the services fill in the rest
(their examples are indented by four blanks).

usage: lsp_keywords.py OUTPUT.inc GUIDE.md...
"""
import re
import sys

KEYWORD = re.compile(r"^(\s*)(@[A-Za-z_]+|CALL)\b(.*)$")


def rank(indent, rest):
    """Lower is better: a syntax line (operands named in words, no
    digits), then a line with operands, not indented before indented."""
    operands = rest.split(";")[0].strip()
    generic = bool(operands) and not re.search(r"[0-9]", operands)
    return (0 if generic else 2 if operands else 4) + (0 if not indent else 1)


def keyword_lines(paths):
    best = {}  # KEYWORD -> (guide order, rank, line)
    for order, path in enumerate(paths):
        fenced = False
        with open(path, encoding="utf-8") as guide:
            for line in guide:
                if line.lstrip().startswith("```"):
                    fenced = not fenced
                    continue
                # fenced code, or code indented by four blanks
                indented = line.startswith("    ")
                match = KEYWORD.match(line if fenced else line[4:]) if fenced or indented else None
                if not match:
                    continue
                indent, word, rest = match.groups()
                key = word.upper()
                text = re.sub(r"\s{2,};", "   ;", line.strip())
                candidate = (order, rank(indent, rest), text)
                if key not in best or candidate[:2] < best[key][:2]:
                    best[key] = candidate
    return {key: value[2] for key, value in best.items()}


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def main():
    output, guides = sys.argv[1], sys.argv[2:]
    lines = keyword_lines(guides)
    with open(output, "w", encoding="utf-8") as out:
        out.write("// Generated from the guides by tools/quill/lsp_keywords.py.\n")
        for key in sorted(lines):
            out.write("{%s, %s},\n" % (c_string(key), c_string(lines[key])))


if __name__ == "__main__":
    main()
