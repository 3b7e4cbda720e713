" quill lsp in Vim with the vim-lsp plugin (prabirshrestha/vim-lsp): add
" these lines to ~/.vimrc.  The file type quillwright comes from
" editors/vim/ftdetect.  K shows the hover, :LspDefinition, :LspReferences,
" :LspDocumentSymbol; the messages appear as signs and with :LspDocumentDiagnostics.
if executable('quill')
  autocmd User lsp_setup call lsp#register_server({
        \ 'name': 'quill',
        \ 'cmd': {server_info -> ['quill', 'lsp']},
        \ 'allowlist': ['quillwright'],
        \ })
endif
