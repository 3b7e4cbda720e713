#!/bin/bash
# nvim_lsp_test.sh QUILL: Neovim's built-in client, set up as
# editors/lsp/quill.lua sets it up, opens a program with a misspelt keyword
# and must receive quill lsp's diagnostic at its line.  Skipped (77)
# without nvim.
set -u
quill=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
command -v nvim > /dev/null || { echo "nvim is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/typo.QWR" <<'QWR'
%include "include/BEGIN.DICTIONARY"
    @INSERTWORD w_Name, 20, 'World'
%include "include/BEGIN.MATRIX"
%include "include/BEGIN.INSTRUCTIONS"
    @DISPLAYY 'Hello, ', w_Name, LF
%include "include/END.PROGRAM"
QWR
cat > "$work/check.lua" <<'LUA'
local out = assert(io.open(os.getenv('RESULT'), 'w'))
vim.cmd('edit ' .. os.getenv('SOURCE'))
local got = vim.wait(30000, function() return #vim.diagnostic.get(0) > 0 end, 50)
for _, d in ipairs(vim.diagnostic.get(0)) do
  out:write(string.format('%d:%d: %s\n', d.lnum + 1, d.col + 1, d.message))
end
if not got then out:write('no diagnostic\n') end
out:close()
vim.cmd('qa!')
LUA
export RESULT="$work/result" SOURCE="$work/typo.QWR"
PATH="$(dirname "$quill"):$PATH" HOME="$work" XDG_CONFIG_HOME="$work" XDG_DATA_HOME="$work" XDG_STATE_HOME="$work" \
  timeout 60 nvim --headless -u NONE -i NONE -c "luafile $root/editors/lsp/quill.lua" -c "luafile $work/check.lua" \
  > "$work/nvim.log" 2>&1
expected="5:5: @DISPLAYY is not a statement of the language (a misspelt keyword?)"
if [ "$(cat "$work/result" 2>/dev/null)" != "$expected" ]; then
  echo "expected: $expected"
  echo "received: $(cat "$work/result" 2>/dev/null)"
  cat "$work/nvim.log"
  exit 1
fi
echo "Neovim received: $expected"
