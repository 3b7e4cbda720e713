#!/usr/bin/env python3
"""quill lsp driven as an editor drives it, over JSON-RPC on its standard
input and output: the diagnostics of the common mistakes at their lines
(translator and assembler), hover, definition, references, the outline,
completion, a change that replaces a check still running, malformed
messages, and the user's files left alone.

usage: lsp_test.py QUILL
"""
import atexit
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

QUILL = sys.argv[1]

HEAD = """%include "include/BEGIN.DICTIONARY"
%include "totals.PKG"
    @INSERTNUMBER n_Total, 0, '#,##9.99-'
    @INSERTNUMBER n_A, 0, '999'
    @INSERTNUMBER n_K, 2, '999'
    @INSERTWORD   w_Name, 20, 'World'
    @INSERTARRAY  a_X, 5
@BEGIN_RECORD R, r_Item
    @INSERTWORD   r_Code, 4
    @INSERTNUMBER r_Qty, 0, '999'
@END_RECORD r_Item
%include "include/BEGIN.MATRIX"
    @INSERTTABLE  t_Items, r_Item, 5
%include "include/BEGIN.INSTRUCTIONS"
"""
TAIL = """    CALL s_Show
@BEGIN_SUB s_Show
    @DISPLAY 'Hello, ', w_Name, n_Grand, LF
@END_SUB
%include "include/END.PROGRAM"
"""
FIRST = HEAD.count("\n") + 1  # the line of the first instruction

# The mistakes of docs/language.md: (instructions, the mistake's line among
# them from 0, a part of the message, the token underlined or None).
MISTAKES = [
    ("n_A = n_Zip + 1", 0, "symbol `n_Zip' not defined", "n_Zip"),
    ("n_A = 1\nn_B = n_A + 1", 1, "n_B is not declared", "n_B"),
    ("@DISPLAYY 'x', LF", 0, "@DISPLAYY is not a statement of the language", "@DISPLAYY"),
    ("n_A = 2\n@IF n_Total 5\n@END_IF", 1, "has no relation between its operands", None),
    ("@IF n_A + 1 = 5\n@END_IF", 0, "@IF compares two operands", None),
    ("@TABLES_SORT a_X", 0, "@TABLES_SORT does not take 1 operand", "@TABLES_SORT"),
    ("n_A = a_X{n_K - 1}", 0, "n_K - 1 is not one name or number", None),
    ("n_A = 1\n@IF n_A = 1\n@DISPLAY 'x', LF", 1, "13: First unmatched opener on line no=", None),
    ("n_A = 1\nn_A = n_A * {12345678901234567890,'99'}", 1, "50:", None),
]
GOOD = "    n_Total = n_Grand + 1\n"


class Client:
    def __init__(self):
        self.proc = subprocess.Popen([QUILL, "lsp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.buffer = b""
        self.pending = []
        self.next_id = 0

    def send(self, message):
        self.send_raw(json.dumps(dict(message, jsonrpc="2.0")).encode())

    def send_raw(self, body):
        self.proc.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.proc.stdin.flush()

    def receive(self, timeout=20):
        deadline = time.time() + timeout
        while True:
            end = self.buffer.find(b"\r\n\r\n")
            if end >= 0:
                length = int(self.buffer[:end].split(b":")[1])
                if len(self.buffer) >= end + 4 + length:
                    body = self.buffer[end + 4:end + 4 + length]
                    self.buffer = self.buffer[end + 4 + length:]
                    return json.loads(body)
            left = deadline - time.time()
            if left <= 0 or not select.select([self.proc.stdout], [], [], left)[0]:
                raise AssertionError("no message from quill lsp within %ds" % timeout)
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:
                raise AssertionError("quill lsp ended (status %s)" % self.proc.wait())
            self.buffer += chunk

    def request(self, method, params):
        self.next_id += 1
        self.send({"id": self.next_id, "method": method, "params": params})
        while True:
            m = self.receive()
            if m.get("id") == self.next_id:
                return m
            self.pending.append(m)

    def notify(self, method, params):
        self.send({"method": method, "params": params})

    def diagnostics(self, uri, final=True):
        """The diagnostics of uri: the last of a quiet second when final."""
        found = None
        while True:
            for m in self.pending:
                if m.get("method") == "textDocument/publishDiagnostics" and m["params"]["uri"] == uri:
                    found = m["params"]["diagnostics"]
            self.pending = []
            if found is not None and not final:
                return found
            try:
                self.pending.append(self.receive(1.5 if found is not None and final else 20))
            except AssertionError:
                if found is None:
                    raise
                return found


def at(uri, line, character):
    return {"textDocument": {"uri": uri}, "position": {"line": line, "character": character}}


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def main():
    folder = tempfile.mkdtemp()
    atexit.register(shutil.rmtree, folder, True)
    with open(os.path.join(folder, "totals.PKG"), "w") as pkg:
        pkg.write("    @INSERTNUMBER n_Grand, 0, '9999.99-'\n")
    with open(os.path.join(folder, "pay.ASM"), "w") as own:
        own.write("; the user's own\n")
    client = Client()
    init = client.request("initialize", {"processId": None, "rootUri": None, "capabilities": {},
                                         "initializationOptions": {"debounceMs": 100}})
    check(init["result"]["capabilities"]["hoverProvider"], "initialize")
    client.notify("initialized", {})

    # --- the mistakes, each at its line ------------------------------------
    for k, (lines, index, text, token) in enumerate(MISTAKES):
        uri = "file://%s/mistake%d.QWR" % (folder, k)
        body = "".join("    " + line + "\n" for line in lines.split("\n"))
        source = HEAD + body + TAIL
        client.notify("textDocument/didOpen", {"textDocument": {
            "uri": uri, "languageId": "quillwright", "version": 1, "text": source}})
        found = client.diagnostics(uri)
        line = FIRST + index
        hits = [d for d in found if text in d["message"]]
        check(hits, "%s: no diagnostic '%s' in %s" % (lines, text, found))
        check(hits[0]["range"]["start"]["line"] == line - 1,
              "%s: at line %d, not %d" % (text, hits[0]["range"]["start"]["line"] + 1, line))
        if token:
            start = hits[0]["range"]["start"]["character"]
            written = source.split("\n")[line - 1]
            check(written[start:hits[0]["range"]["end"]["character"]] == token,
                  "%s: the range does not hold %s" % (text, token))
        client.notify("textDocument/didClose", {"textDocument": {"uri": uri}})

    # --- a sound program: no diagnostics; the features ---------------------
    uri = "file://%s/pay.QWR" % folder
    source = HEAD + GOOD + TAIL
    lines = source.split("\n")
    client.notify("textDocument/didOpen", {"textDocument": {
        "uri": uri, "languageId": "quillwright", "version": 1, "text": source}})
    check(client.diagnostics(uri) == [], "a sound program has diagnostics")

    def line_of(text):
        return next(n for n, line in enumerate(lines) if text in line)

    def hover(text, word):
        n = line_of(text)
        r = client.request("textDocument/hover", at(uri, n, lines[n].index(word) + 1))["result"]
        return r["contents"]["value"] if r else ""

    h = hover("@INSERTNUMBER r_Qty", "r_Qty")
    for part in ["r_Qty", "whole number", "'999'", "field 2 of record `r_Item`", "line 10",
                 "@INSERTNUMBER r_Qty, 0, '999'"]:
        check(part in h, "hover of r_Qty lacks %s: %s" % (part, h))
    h = hover("n_Total = n_Grand", "n_Grand")
    check("package included on line 2" in h and "9999.99-" in h, "hover of a package's name: " + h)
    h = hover("@DISPLAY 'Hello", "@DISPLAY")
    check("@DISPLAY item, item" in h, "hover of a keyword: " + h)

    n = line_of("CALL s_Show")
    r = client.request("textDocument/definition", at(uri, n, lines[n].index("s_Show")))["result"]
    check(r["uri"] == uri and r["range"]["start"]["line"] == line_of("@BEGIN_SUB s_Show"), "definition")
    n = line_of("n_Total = n_Grand")
    r = client.request("textDocument/references", dict(at(uri, n, lines[n].index("n_Total")),
                                                        context={"includeDeclaration": True}))["result"]
    check(sorted(x["range"]["start"]["line"] for x in r) ==
          [line_of("@INSERTNUMBER n_Total"), n], "references of n_Total: %s" % r)

    symbols = client.request("textDocument/documentSymbol", {"textDocument": {"uri": uri}})["result"]
    outline = {s["name"]: s for s in symbols}
    check(set(outline) == {"r_Item", "t_Items", "s_Show"}, "outline: %s" % list(outline))
    check([c["name"] for c in outline["r_Item"]["children"]] == ["r_Code", "r_Qty"], "record fields")
    check(outline["s_Show"]["range"]["end"]["line"] == line_of("@END_SUB"), "the sub's lines")

    def complete(line, character):
        r = client.request("textDocument/completion", at(uri, line, character))["result"]
        return {item["label"]: item for item in r}

    n = line_of("n_Total = n_Grand")
    items = complete(n, lines[n].index("n_Total") + 3)  # after "n_T"
    check("n_Total" in items and "n_A" not in items, "names by prefix: %s" % list(items))
    n = line_of("CALL s_Show")
    items = complete(n, lines[n].index("s_Show"))
    check("s_Show" in items and "n_Total" not in items, "after CALL only subs: %s" % list(items))
    items = complete(n, 4)  # at the statement's start
    snippet = items.get("@IF … end", {})
    check(snippet.get("insertTextFormat") == 2 and "@END_IF" in snippet.get("insertText", ""),
          "the @IF snippet")
    check("@REPEAT … end" in items and "@BEGIN_SUB … end" in items and "@DISPLAY" in items,
          "statements offered")
    check("C_RETURN" in items and "w_Spaces" in items, "the dictionary's constants and items")

    # --- changes: the last one counts; a check running is replaced --------
    for k in range(5):
        client.notify("textDocument/didChange", {"textDocument": {"uri": uri, "version": 2 + k},
                      "contentChanges": [{"text": HEAD + "    n_A = n_Zip%d\n" % k + TAIL}]})
    found = client.diagnostics(uri)
    check(len(found) == 1 and "n_Zip4" in found[0]["message"], "after changes: %s" % found)
    # a change while the assembler checks the text before: that check's
    # messages never arrive after the new text's
    client.notify("textDocument/didChange", {"textDocument": {"uri": uri, "version": 7},
                  "contentChanges": [{"text": HEAD + "    n_A = n_ZipOld\n" + TAIL}]})
    client.diagnostics(uri, final=False)  # the translator's, the check has begun
    client.notify("textDocument/didChange", {"textDocument": {"uri": uri, "version": 8},
                  "contentChanges": [{"text": HEAD + "    n_A = n_ZipNew\n" + TAIL}]})
    seen, clean = [], False
    while not any("n_ZipNew" in d["message"] for d in seen):
        seen = client.diagnostics(uri, final=False)
        old = any("n_ZipOld" in d["message"] for d in seen)
        check(not (old and clean), "the older text's check reported after the newer text's")
        clean = clean or not old
    client.notify("textDocument/didChange", {"textDocument": {"uri": uri, "version": 9},
                  "contentChanges": [{"range": {"start": {"line": FIRST - 1, "character": 4},
                                                "end": {"line": FIRST - 1, "character": 40}},
                                      "text": "n_A = n_K"}]})
    check(client.diagnostics(uri) == [], "a ranged change mends the program")

    # --- half-typed programs and malformed messages -----------------------
    for cut in range(0, len(source), 37):
        client.notify("textDocument/didChange", {"textDocument": {"uri": uri, "version": 100 + cut},
                      "contentChanges": [{"text": source[:cut]}]})
        client.request("textDocument/hover", at(uri, cut // 40, 5))
        client.request("textDocument/completion", at(uri, cut // 40, 3))
    client.send_raw(b"{not json")
    check(client.request("no/such", {})["error"]["code"] == -32601, "unknown method")
    check("error" in client.request("textDocument/hover", {"textDocument": {}}), "bad params")
    check(client.request("textDocument/hover", at("file:///nowhere.QWR", 0, 0))["result"] is None,
          "unknown document")

    client.request("shutdown", None)
    client.notify("exit", None)
    check(client.proc.wait(timeout=10) == 0, "exit status")
    with open(os.path.join(folder, "pay.ASM")) as own:
        check(own.read() == "; the user's own\n", "the user's pay.ASM was changed")
    left = sorted(f for f in os.listdir(folder) if not f.endswith((".QWR", ".PKG", ".ASM")))
    check(left == [], "files written next to the source: %s" % left)
    print("quill lsp: %d mistakes at their lines, hover, definition, references, outline, "
          "completion, changes" % len(MISTAKES))


if __name__ == "__main__":
    main()
