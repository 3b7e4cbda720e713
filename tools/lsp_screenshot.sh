#!/usr/bin/env bash
# Makes docs/images/lsp-neovim.png: Neovim in an xterm on a virtual X
# display (Xvfb), started with editors/lsp/quill.lua, showing quill lsp's
# diagnostic of a program with a mistake and the hover of a name.
#
# usage: tools/lsp_screenshot.sh [BUILD_DIR]    (needs Xvfb, xterm, nvim, ImageMagick)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
OUT=$ROOT/docs/images/lsp-neovim.png
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

cat > "$work/pay.QWR" <<'QWR'
; pay.QWR: a week's pay
%include "include/BEGIN.DICTIONARY"
    @INSERTNUMBER n_Hours, 38.5, '99.9'
    @INSERTNUMBER n_Rate, 21.75, '999.99'
    @INSERTNUMBER n_Pay, 0, '#,##9.99-'
    @INSERTWORD   w_Name, 20, 'Ada'
%include "include/BEGIN.MATRIX"
%include "include/BEGIN.INSTRUCTIONS"
    n_Pay = n_Hours * n_Rat
    CALL s_Show
@BEGIN_SUB s_Show
    @DISPLAY w_Name, ': ', n_Pay, LF
@END_SUB
%include "include/END.PROGRAM"
QWR
cat > "$work/init.lua" <<LUA
vim.opt.runtimepath:prepend('$ROOT/editors/vim')
vim.opt.termguicolors = true
vim.cmd('syntax on | filetype on')
vim.cmd('highlight NormalFloat guibg=#2d2d30 guifg=#d4d4d4')
vim.cmd('highlight DiagnosticError guifg=#f14c4c')
vim.opt.number = true
vim.opt.signcolumn = 'yes'
vim.g.quill_command = '$BUILD/bin/quill'
dofile('$ROOT/editors/lsp/quill.lua')
-- once the diagnostics are in, the hover of n_Hours on the line of the mistake
vim.defer_fn(function()
  vim.wait(10000, function() return #vim.diagnostic.get(0) > 0 end, 50)
  vim.api.nvim_win_set_cursor(0, {9, 14})
  vim.lsp.buf.hover()
end, 500)
LUA

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 820x400x24 > /dev/null 2>&1 & pids+=($!)
sleep 1
(cd "$work" && DISPLAY=$display HOME=$work XDG_CONFIG_HOME=$work XDG_DATA_HOME=$work \
  XDG_STATE_HOME=$work xterm -geometry 100x24+0+0 -fa Monospace -fs 10 -bg '#1e1e1e' -fg '#d4d4d4' \
  -e nvim -u "$work/init.lua" -i NONE pay.QWR) & pids+=($!)
sleep 6
import -display "$display" -window root -crop 820x400+0+0 "$OUT"
echo "wrote $OUT"
