" Vim syntax file
" Language:   Quillwright (NAME.QWR)
" Install:    copy syntax/ and ftdetect/ into ~/.vim (the package puts them
"             in /usr/share/vim/vimfiles)

if exists("b:current_syntax")
  finish
endif

" Keywords begin with @ and may hold a dot (@BEGIN.ASSEMBLER).
syn iskeyword @,48-57,_,192-255,@-@,.

" Keywords in any letter case.
syn case ignore
syn keyword qwDeclaration @INSERTNUMBER @INSERTWORD @INSERTARRAY @INSERTFILE
syn keyword qwDeclaration @INSERTTABLE @INSERTXTABLE @BEGIN_RECORD @END_RECORD @USING
syn keyword qwConditional @IF @_IF @ELSE @END_IF @_AND @_OR @_END @ARRAYS_IF
syn keyword qwConditional @BEGIN_TEST @WHEN @_WHEN @WEND @END_TEST
syn keyword qwRepeat      @REPEAT @REPEAT_IF @REPEAT_WHILE @WHILE @END_REPEAT @EXIT_REPEAT
syn keyword qwStructure   @BEGIN_SUB @END_SUB @EXIT_SUB @BEGIN_FUNCTION @END_FUNCTION
syn keyword qwStructure   @EXIT_FUNCTION @FUNCTION @TERMINATE CALL
syn keyword qwStructure   @BEGIN_ASSEMBLER @BEGIN.ASSEMBLER @END_ASSEMBLER
syn keyword qwStatement   @DISPLAY @ACCEPT @BOX @CURSOR @CLEAR_SCREEN @HIDE_CURSOR @SHOW_CURSOR
syn keyword qwStatement   @GETFIELDS @PUTFIELDS @NUMBERS @NUMBERS_CALC @INTEGERS @INTEGERS_CALC
syn keyword qwStatement   @WORDS @WORDS_COPY @WORDS_ENV @WORDS_FIND @WORDS_FROMRECORD @WORDS_INSERT
syn keyword qwStatement   @WORDS_LOWER @WORDS_PAD @WORDS_REPLACE @WORDS_TORECORD @WORDS_UPPER
syn keyword qwStatement   @Arrays_Add @Arrays_Sub @Arrays_Mul @Arrays_Div @Arrays_Eq @Arrays_Get
syn keyword qwStatement   @Arrays_Put @Arrays_Sort @Arrays_Swap
syn keyword qwStatement   @OPEN @CLOSE @READ @READLINE @WRITE @WRITELINE @DELETE @START @NEXT
syn keyword qwStatement   @LOCK @UNLOCK @COPY @REMOVE @RENAME @CHDIR @GETCWD
syn keyword qwStatement   @BUFFER_TO_RECORD @RECORD_TO_BUFFER
syn keyword qwStatement   @TABLES_BIND @TABLES_GET @TABLES_PUT @TABLES_fget @TABLES_fput
syn keyword qwStatement   @TABLES_FIND @TABLES_SORT @XTABLES_BIND @XTABLES_GET @XTABLES_PUT
syn keyword qwStatement   @XTABLES_fget @XTABLES_fput @XTABLES_FIND @XTABLES_SORT
syn keyword qwStatement   @XTABLES_DELETE @XTABLES_LOAD @XTABLES_UNLOAD
syn keyword qwStatement   @DATE @ENVIRONMENT @RANDOM @RUN @RUN_BATCH @WAIT @WWW

" Names keep their letter case.
syn case match
syn keyword qwConstant LF EOF DUPLICATES INVALIDKEY LOCKED RETURN_CODE ERROR_CODE exitRepeat STOP
syn match   qwConstant /\<C_[A-Z0-9]\+\>/

syn match   qwDirective  /^\s*%\a\+/
syn match   qwNumber     /\%(\<\|-\)\d\+\%(\.\d\+\)\=\>\|\.\d\+\>/
syn region  qwString     start=/'/ end=/'/ oneline
syn region  qwString     start=/"/ end=/"/ oneline
" A picture: a quoted run of 9 # . , + - closing a declaration, or
" after a comma inside braces ({n_Amount,'#,##9.99'}).
syn match   qwPicture    /,\s*\zs'[9#.,+-]*[9#][9#.,+-]*'\ze\s*\%(;.*\)\=$/
syn match   qwPicture    /'[9#.,+-]*[9#][9#.,+-]*'/ contained
" Substrings and array elements {name,from,length}, table elements [ ].
syn region  qwBraces     matchgroup=qwBrace start=/{/ end=/}/ oneline
      \ contains=qwPicture,qwString,qwNumber,qwConstant,qwElement
syn match   qwElement    /[][]/
syn match   qwSeparator  /|/
syn match   qwComment    /;.*$/ contains=@Spell

hi def link qwDeclaration Type
hi def link qwConditional Conditional
hi def link qwRepeat      Repeat
hi def link qwStructure   Statement
hi def link qwStatement   Function
hi def link qwConstant    Constant
hi def link qwDirective   PreProc
hi def link qwNumber      Number
hi def link qwString      String
hi def link qwPicture     Special
hi def link qwBrace       Delimiter
hi def link qwElement     Delimiter
hi def link qwSeparator   Operator
hi def link qwComment     Comment

let b:current_syntax = "quillwright"
