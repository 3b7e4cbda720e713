-- quill lsp in Neovim (0.7 and later, with its built-in client): copy this
-- file into ~/.config/nvim/plugin/ (or :luafile it from init.vim).  Every
-- NAME.QWR opened is attached to one `quill lsp`; set vim.g.quill_command
-- to run another quill than the one on PATH.
local client_id

vim.api.nvim_create_autocmd({ 'BufReadPost', 'BufNewFile' }, {
  pattern = { '*.QWR', '*.qwr' },
  callback = function(args)
    if not (client_id and vim.lsp.get_client_by_id(client_id)) then
      client_id = vim.lsp.start_client({
        name = 'quill',
        cmd = { vim.g.quill_command or 'quill', 'lsp' },
        root_dir = vim.fn.fnamemodify(args.file, ':p:h'),
      })
    end
    if client_id then vim.lsp.buf_attach_client(args.buf, client_id) end
  end,
})
