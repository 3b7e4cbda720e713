// Terminal module: standard handles, the command line, display, cursor,
// line input and field input.
#pragma once

#include <stdint.h>

#include "item.h"
#include "keys.h"

namespace qw::terminal {

// Key codes that field input leaves in RETURN_CODE (keys.h).
enum KeyCode : int64_t {
  kEnter = keys::value_of("C_RETURN"),  // F1 .. F12 are C_FUNCTIONKEY1 .. 12
  kAlt = keys::value_of("C_ALT"),
  kUp = keys::value_of("C_ARROWUP"),
  kDown = keys::value_of("C_ARROWDOWN"),
  kRight = keys::value_of("C_ARROWRIGHT"),
  kLeft = keys::value_of("C_ARROWLEFT"),
  kEnd = keys::value_of("C_END"),
  kHome = keys::value_of("C_HOME"),
  kInsert = keys::value_of("C_INSERT"),
  kFieldFull = keys::value_of("C_ENDOFFIELD"),
  kTab = keys::value_of("C_TAB"),
  kEscape = keys::value_of("C_ESCAPE"),
  kBackspace = keys::value_of("C_BACKSPACE"),
};

// Status of line input at the end of standard input (nothing was read).
inline constexpr int64_t kEndOfInput = 10;

void get_stdio_handles();
void get_command_line(const uint64_t* initial_stack);

// Writes the item (a number edited through its picture, or the word
// substring start/length) to standard output in one write.
void display(void* item, uint64_t start, uint64_t length);

// Moves the cursor to Row9/Col9 (0 to 999 each); v_Cursor, RowX and ColX
// get the sequence and the digits.
void cursor();

// Reads one line into a word or a number (start 0), or into the word's
// positions start .. start + length - 1; RETURN_CODE as described in
// KeyCode/kEndOfInput (0 for a line, 27 for escape).  Keys typed ahead
// during field input come first: on a terminal the runtime edits such a
// line itself.
void accept_line(void* item, uint64_t start = 0, uint64_t length = 0);

// Field input into word positions start .. start + length - 1, on the
// screen at Row9/Col9.  Entry (editing false) stores typed characters from
// the field's first position and ends at the first key that is not one;
// editing shows the field and lets the person move in it and remove
// characters.  RETURN_CODE := the key code that ended it, CHARS_TYPED :=
// the number of characters typed.
void accept_field(Word word, uint64_t start, uint64_t length, bool editing);

// Puts back the terminal settings that field input found (key mode lasts
// from the first field until a line is read or the program ends), shows
// the cursor and resets the attributes when the program changed them.
// Registered with set_fatal_cleanup, so the program end, the fatal path and
// the signal path run it, the last from a signal handler: it only makes
// system calls.
void restore_terminal();

}  // namespace qw::terminal

// Terminal items, defined in the terminal module.  Each symbol is the
// item's data address.
extern "C" {
extern uint8_t Row9[], Col9[], RowX[], ColX[];
extern uint8_t v_ClearScreen[], v_Cursor[];
extern uint8_t v_TopLeft[], v_TopRight[], v_BottomLeft[], v_BottomRight[];
extern uint8_t v_Line[], v_Bar[], v_Cross[];
extern uint8_t v_MiddleLeft[], v_MiddleRight[], v_MiddleTop[], v_MiddleBottom[];
extern uint8_t v_DefaultFG[], v_RedFG[], v_WhiteFG[], v_LightRedFG[];
extern uint8_t v_DefaultBG[], v_WhiteBG[], v_LightGreyBG[];
extern uint8_t v_ResetAll[], v_Bold[], v_Hidden[], v_ResetBold[], v_ResetHidden[];
extern uint8_t v_HideCursor[], v_ShowCursor[];
extern uint8_t w_AcceptAt[], w_Function[], CHARS_TYPED[];
}
