#!/usr/bin/env bash
# The installed toolchain on its own: installed into a temporary prefix
# that is then moved (so nothing may lean on where it was installed, nor on
# the build tree), it builds and runs an example from another folder, in a
# folder whose name holds blanks, quotes and a dollar sign.
#   install_test.sh BUILD_DIR VERSION
set -u
build=$1 version=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$work/first" > "$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install"; }
mv "$work/first" "$work/moved"
prefix=$work/moved
for f in bin/quill bin/rewriter bin/ledger lib/quillwright/libquillwright.a \
         lib/quillwright/stdio_object.o lib/quillwright/ledger_logic.o \
         share/quillwright/include/BEGIN.DICTIONARY share/doc/quillwright/language.md \
         share/doc/quillwright/examples/hello.QWR share/vim/vimfiles/syntax/quillwright.vim \
         share/vim/vimfiles/ftdetect/quillwright.vim share/quillwright/editors/vscode/package.json \
         share/quillwright/gdb/quillwright.py share/quillwright/gdb/quillwright_layout.py \
         share/quillwright/editors/vscode/extension.js share/quillwright/editors/lsp/quill.lua; do
  [ -e "$prefix/$f" ] || fail "$f was not installed"
done

# the language server answers an editor's first request
rpc() { printf 'Content-Length: %d\r\n\r\n%s' "${#1}" "$1"; }
{ rpc '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}'
  rpc '{"jsonrpc":"2.0","id":2,"method":"shutdown"}'; rpc '{"jsonrpc":"2.0","method":"exit"}'; } |
  timeout 20 "$prefix/bin/quill" lsp > "$work/lsp.txt" || fail "quill lsp did not end well"
grep -q '"hoverProvider":true' "$work/lsp.txt" || fail "quill lsp: $(cat "$work/lsp.txt")"

for tool in quill rewriter; do
  got=$("$prefix/bin/$tool" --version)
  [ "$got" = "$tool (Quillwright) $version" ] || fail "$tool --version says '$got'"
done

dir="$work/a \"b\" 'c' \$d"
mkdir -p "$dir" "$work/elsewhere"
cp "$prefix/share/doc/quillwright/examples/hello.QWR" "$dir/"
cd "$work/elsewhere" || exit 1
env -u QW_ROOT -u QW_BIN -u QW_LIB -u QW_REWRITER PATH="$prefix/bin:/usr/bin:/bin" \
  quill run -v "$dir/hello" Ada Lovelace > out.txt 2> err.txt || { cat out.txt err.txt; fail "quill run"; }
diff "$root/tests/language/examples/hello.expected" out.txt || fail "hello printed something else"
# every part came from the moved prefix, none from the build tree
for part in "$prefix/bin/rewriter" "-I$prefix/share/quillwright/" "$prefix/lib/quillwright/libquillwright.a"; do
  grep -qF -- "$part" err.txt || { cat err.txt; fail "quill did not use $part"; }
done
grep -F -e "$build" -e "$root/" err.txt && fail "quill used the build or source tree"

# the environment still overrides what quill finds next to itself
QW_ROOT=$work/nowhere "$prefix/bin/quill" build "$dir/hello" 2> err.txt
[ $? = 69 ] && grep -qF "cannot find the macro package in $work/nowhere/include" err.txt ||
  { cat err.txt; fail "QW_ROOT is not obeyed"; }
echo "install test passed"
