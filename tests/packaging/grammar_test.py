#!/usr/bin/env python3
"""The editor grammars against the language reference.

Every keyword of docs/language.md (read from the page now, so keywords added
there are checked too) must be highlighted as a keyword by the Vim syntax
file and by the TextMate grammar, and a few sample lines must show their
pictures, literals, comments, separators, substrings and element brackets.
Vim runs headless when it is installed; the TextMate grammar is run by a
small interpreter of its match and begin/end rules.

    grammar_test.py SOURCE_ROOT
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = sys.argv[1]
SAMPLES = [  # a line, then (fragment, what it must be)
    ("    @INSERTNUMBER n_Total, 0, '#,##9.99-'   ; the sum",
     [("@INSERTNUMBER", "keyword"), ("'#,##9.99-'", "picture"), ("; the sum", "comment")]),
    ("    @DISPLAY {w_Line,n_Pos,3}, 'a;b', 12.5 | n_A = f_Qty[n_I]",
     [("@DISPLAY", "keyword"), ("{", "brace"), ("}", "brace"), ("3", "number"),
      ("'a;b'", "string"), ("12.5", "number"), ("|", "separator"), ("[", "element"),
      ("]", "element")]),
    ("    @WORDS_PAD {n_Amount,'#,##9.99'}, w_Out, LF",
     [("'#,##9.99'", "picture"), ("LF", "constant")]),
    ("    @if RETURN_CODE = C_TRUE", [("@if", "keyword"), ("C_TRUE", "constant")]),
    ("    CALL s_Show \"x\" 7", [("CALL", "keyword"), ('"x"', "string")]),
]


def doc_keywords():
    with open(os.path.join(ROOT, "docs", "language.md")) as f:
        return sorted(set(re.findall(r"@[A-Za-z_.]*[A-Za-z_]", f.read())))


def category(name):
    """A Vim group or a TextMate scope -> what the samples expect."""
    table = [(r"qw(Declaration|Conditional|Repeat|Structure|Statement)$|^(keyword|storage)\.", "keyword"),
             (r"qwPicture|\.picture\.", "picture"), (r"qwString|^string\.", "string"),
             (r"qwNumber|^constant\.numeric", "number"), (r"qwConstant|^constant\.language", "constant"),
             (r"qwComment|^comment\.", "comment"), (r"qwSeparator|separator\.statement", "separator"),
             (r"qwBrace$|section\.braces", "brace"), (r"qwElement|section\.brackets", "element")]
    for pattern, what in table:
        if name and re.search(pattern, name):
            return what
    return ""


def vim_names(lines):
    """Per line, the Vim syntax group of each character."""
    with tempfile.TemporaryDirectory() as work:
        src, out = os.path.join(work, "t.QWR"), os.path.join(work, "names")
        with open(src, "w") as f:
            f.write("\n".join(lines) + "\n")
        each = ('call writefile([&ft] + map(range(1, line("$")), {_, l -> join(map(range(1, '
                'col([l, "$"]) - 1), {_, c -> synIDattr(synID(l, c, 1), "name")}), ",")}), "%s")' % out)
        subprocess.run(["vim", "-Nu", "NONE", "-i", "NONE", "-Es", "-c",
                        "set rtp^=" + os.path.join(ROOT, "editors", "vim"), "-c", "filetype on",
                        "-c", "syntax on", "-c", "edit " + src, "-c", each, "-c", "qa!"],
                       check=True, stdin=subprocess.DEVNULL, timeout=60)
        with open(out) as f:
            result = f.read().split("\n")
    assert result[0] == "quillwright", "*.QWR is not detected as Quillwright: %r" % result[0]
    return [row.split(",") for row in result[1:len(lines) + 1]]


def textmate_names(grammar, line):
    """The innermost TextMate scope of each character of one line."""
    names = [""] * len(line)
    cache = {}

    def rx(pattern):
        return cache.setdefault(pattern, re.compile(pattern))

    def rules(patterns):
        for p in patterns:
            if "include" in p:
                yield from rules([grammar["repository"][p["include"][1:]]])
            elif "patterns" in p and "begin" not in p:
                yield from rules(p["patterns"])
            else:
                yield p

    def paint(m, name, captures):
        for i in range(m.start(), m.end()):
            names[i] = name or names[i]
        for group, capture in (captures or {}).items():
            if m.group(int(group)) is not None:
                for i in range(m.start(int(group)), m.end(int(group))):
                    names[i] = capture["name"]

    def scan(patterns, pos, end=None):
        while pos <= len(line):
            found = [(m.start(), n, r, m) for n, r in enumerate(rules(patterns))
                     for m in [rx(r.get("match") or r["begin"]).search(line, pos)] if m]
            close = rx(end).search(line, pos) if end else None
            if close and (not found or close.start() <= min(found)[0]):
                return close
            if not found:
                return None
            _, _, rule, m = min(found, key=lambda f: f[:2])
            paint(m, rule.get("name"), rule.get("captures") or rule.get("beginCaptures"))
            pos = max(m.end(), m.start() + 1)
            if "begin" in rule:
                stop = scan(rule.get("patterns", []), pos, rule["end"])
                pos = stop.end() if stop else len(line) + 1
                if stop:
                    paint(stop, None, rule.get("endCaptures"))
        return None

    scan(grammar["patterns"], 0)
    return names


def check(grammar_name, lines, names, failures):
    keywords = doc_keywords()
    for word, row in zip(keywords, names):
        if any(category(n) != "keyword" for n in row[:len(word)]):
            failures.append("%s: %s is not a keyword" % (grammar_name, word))
    for (line, wants), row in zip(SAMPLES, names[len(keywords):]):
        for fragment, want in wants:
            at = line.index(fragment)
            got = {category(n) for n in row[at:at + len(fragment)]}
            if got != {want}:
                failures.append("%s: %r in %r is %s, not %s" % (grammar_name, fragment, line, got, want))


def main():
    lines = doc_keywords() + [line for line, _ in SAMPLES]
    assert len(doc_keywords()) > 40, "docs/language.md names too few keywords"
    failures = []
    with open(os.path.join(ROOT, "editors", "vscode", "syntaxes", "quillwright.tmLanguage.json")) as f:
        grammar = json.load(f)
    check("TextMate", lines, [textmate_names(grammar, line) for line in lines], failures)
    if shutil.which("vim"):
        check("Vim", lines, vim_names(lines), failures)
    else:
        failures.append("vim is not installed: the Vim syntax file is not checked")
    print("\n".join(failures) or "%d keywords and %d sample lines checked" % (len(doc_keywords()), len(SAMPLES)))
    return 1 if failures else 0


sys.exit(main())
