" Quillwright sources: NAME.QWR
autocmd BufRead,BufNewFile *.QWR,*.qwr setfiletype quillwright
