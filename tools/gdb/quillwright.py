# gdb extension for Quillwright programs built with `quill build -g`.
#
#   print n_Total      37.50+  (value 3750, 2 places, picture '#,##9.99-')
#   print w_Name       'Ann       '  (10 characters)
#   print r_Item       the record's fields in order
#   print t_Items[3]   a table entry by position, with its status
#   print x_Items[2]   an xtable entry by position (through its link)
#   print a_Counts[2]  an array element
#   print f_Log        a file block: name, kind, status, size
#   info items [PREFIX]    the dictionary: name, kind, picture or length, value
#   watch n_Total      stops when the value changes, shown edited
#   bt, step, finish, break s_Name   subs and functions by name
# A fatal run-time error stops at the failing statement, after its message
# and before the program ends.
#
# The program's debug information gives every item a type that names its
# kind (include/debug.mac); the layout behind the item addresses comes from
# quillwright_layout.py, written from runtime/item.h when the toolchain is
# built.  Numbers are edited by the runtime's own editor, called in the
# program.
#
# Load it with `quill debug NAME`, or in gdb: source PATH/quillwright.py
# (PATH: share/quillwright/gdb of the toolchain).

import os
import re
import sys

import gdb
import gdb.FrameDecorator
import gdb.printing
import gdb.unwinder

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import quillwright_layout as layout  # noqa: E402

# ---------------------------------------------------------------------------
# Memory.


def read(address, count):
    return bytes(gdb.selected_inferior().read_memory(address, count))


def signed64(address):
    return int.from_bytes(read(address, 8), "little", signed=True)


def unsigned64(address):
    return int.from_bytes(read(address, 8), "little", signed=False)


def byte(address):
    return read(address, 1)[0]


def shown_text(raw):
    """Text in single quotes, every blank kept; other bytes escaped."""
    out = []
    for b in raw:
        if b == 0x27:
            out.append("\\'")
        elif 32 <= b < 127:
            out.append(chr(b))
        else:
            out.append("\\x%02x" % b)
    return "'" + "".join(out) + "'"


def running():
    inferior = gdb.selected_inferior()
    return inferior is not None and inferior.pid != 0


def runtime_function(name):
    """The address of a runtime routine, or None."""
    try:
        return int(gdb.parse_and_eval("(long)&'%s'" % name))
    except gdb.error:
        return None


_functions = {}


def function_address(name):
    if name not in _functions:
        _functions[name] = runtime_function(name)
    return _functions[name]


def scratch():
    """Room for a routine's result, well below the program's stack top."""
    return (int(gdb.parse_and_eval("$sp")) - 4096) & ~15


# ---------------------------------------------------------------------------
# Items.

TO_TEXT = "qw::numbers::to_text(qw::Number, qw::numbers::Picture, char*)"


class NumberItem:
    """A number: its value (the one in memory unless another is given, as
    a watchpoint's old value is) and its picture."""

    def __init__(self, address, value=None):
        self.address = address
        self.value = signed64(address) if value is None else value
        length = unsigned64(address + layout.LENGTH)
        self.header = read(address - layout.HEADER_SIZE, layout.HEADER_SIZE)
        self.picture = read(address + layout.NUMBER_PICTURE, min(length, 64)).decode("latin-1")

    def places(self):
        """Picture positions right of the point (",", "+", "-" and the sign
        position are none)."""
        body = self.picture
        if body and body[-1] != "9":
            body = body[:-1]
        if "." not in body:
            return 0
        return sum(1 for c in body.split(".", 1)[1] if c not in ",+-")

    def edited(self):
        """The value edited through its picture by the runtime's editor;
        None when the program is not running."""
        to_text = function_address(TO_TEXT)
        if not running() or to_text is None or not self.picture:
            return None
        # a copy of the item is edited, so that the program's own is never
        # touched and any value can be shown
        copy = scratch()
        item = copy + layout.HEADER_SIZE
        out = (item + layout.NUMBER_PICTURE + len(self.picture) + 16) & ~15
        gdb.selected_inferior().write_memory(
            copy, self.header + self.value.to_bytes(8, "little", signed=True) +
            self.picture.encode("latin-1"))
        gdb.parse_and_eval("((char (*)(long, long, long, long))%d)(%d, 0, 0, %d)"
                           % (to_text, item, out))
        return read(out, len(self.picture)).decode("latin-1").lstrip(" ")

    def short(self):
        edited = self.edited()
        return edited if edited is not None else str(self.value)

    def full(self):
        about = "value %d, %d places, picture '%s'" % (self.value, self.places(), self.picture)
        edited = self.edited()
        if edited is None:
            return "(%s; edited once the program runs)" % about
        return "%s  (%s)" % (edited, about)


def word_text(address, length=None):
    if length is None:
        length = unsigned64(address + layout.LENGTH)
    return read(address, length)


def item_at(address):
    """A field seen through its header: its kind ('number', 'word' or None
    for the record's end), its Length and the size of its data."""
    kind = chr(byte(address + layout.TYPE))
    length = unsigned64(address + layout.LENGTH)
    if kind == layout.NUMBER_TYPE:
        return "number", length, layout.NUMBER_PICTURE + length
    if kind == layout.WORD_TYPE:
        return "word", length, length
    return None, 0, 0


def record_fields(label):
    """(address, kind, flat length) of the fields of the record at `label`."""
    fields = []
    at = label + layout.RECORD_FIRST_FIELD
    for _ in range(4096):
        kind, length, size = item_at(at)
        if kind is None:
            break
        fields.append((at, kind, length))
        at += size + layout.HEADER_SIZE
    return fields


def field_list(label, shown):
    """"{name = shown, ...}" for the fields of a record; `shown(address,
    kind, length, offset)` gives one field's text."""
    parts, offset = [], 0
    for address, kind, length in record_fields(label):
        parts.append("%s = %s" % (program().name_at(address), shown(address, kind, length, offset)))
        offset += length
    return "{" + ", ".join(parts) + "}"


def record_full(label):
    def shown(address, kind, length, offset):
        if kind == "number":
            return NumberItem(address).short()
        return shown_text(word_text(address, length))
    return "record %d: %s" % (signed64(label + layout.RECORD_NO), field_list(label, shown))


def entry_text(record_label, entry):
    """The fields of a flat entry at `entry` laid out as the record at
    `record_label`: the characters each field holds."""
    def shown(address, kind, length, offset):
        text = read(entry + offset, length)
        return text.decode("latin-1").strip() if kind == "number" else shown_text(text)
    return field_list(record_label, shown)


FILE_KINDS = {1: "lines ended by a zero byte", 2: "lines", 4: "comma-separated lines",
              8: "sequential records", 16: "random-access records",
              32: "random-access records with a reserved prefix", 64: "a directory"}


def file_full(name):
    kind = byte(name + layout.FILE_KIND)
    handle = signed64(name + layout.FILE_HANDLE)
    about = FILE_KINDS.get(kind, "lines ended by byte %d" % kind)
    path = word_text(name).decode("latin-1").rstrip(" ")
    return ("file '%s', kind %d (%s), status %d, %s, size %d, last read %d" %
            (path, kind, about, signed64(name + layout.FILE_STATUS),
             "open (handle %d)" % handle if handle else "not open",
             signed64(name + layout.FILE_SIZE), signed64(name + layout.FILE_READ_LENGTH)))


def flag_text(value):
    return "true" if value else "false"


# ---------------------------------------------------------------------------
# The program's dictionary, read from its debug information.

class Dictionary:
    def __init__(self):
        self.items = []      # (address, name, type name, gdb.Symbol) by address
        self.by_address = {}
        anchor = gdb.lookup_global_symbol("exitRepeat")
        if anchor is None or anchor.symtab is None:
            return
        for symbol in anchor.symtab.global_block():
            if not symbol.is_variable:
                continue
            value = symbol.value()
            type_name = str(value.type)
            if type_name == "qw_xtable":
                # its value lies in its memory block: the label is found
                # from the table's count
                address = minimal_address(symbol.name + "_UBOUND") - layout.XTABLE_UBOUND
            else:
                address = int(value.address)
            self.items.append((address, symbol.name, type_name, symbol))
            self.by_address.setdefault(address, symbol.name)
        self.items.sort(key=lambda item: item[0])

    def name_at(self, address):
        return self.by_address.get(address, "0x%x" % address)

    def of_type(self, type_name):
        return [item for item in self.items if item[2] == type_name]


_dictionary = None


def minimal_address(name):
    return int(gdb.parse_and_eval("(long)&'%s'" % name))


def program():
    global _dictionary
    if _dictionary is None:
        _dictionary = Dictionary()
    return _dictionary


def forget_program(_event=None):
    global _dictionary
    _dictionary = None
    _functions.clear()
    note_program_marks()


def table_holding(address):
    """(table name, label, entry record label, position) of the fixed table
    entry at `address`."""
    for label, name, _, _ in program().of_type("qw_table"):
        total = unsigned64(label + layout.LENGTH)
        record = signed64(label + layout.SCALE)
        if label <= address < label + total:
            flat = signed64(record + layout.RECORD_FLAT_LENGTH)
            return name, label, record, (address - label) // flat + 1
    return None


def xtable_holding(address):
    """(table name, label, entry record label, position) of the xtable slot
    at `address`."""
    for label, name, _, _ in program().of_type("qw_xtable"):
        record = signed64(label + layout.SCALE)
        start = unsigned64(label + layout.XTABLE_BLOCK_START)
        size = signed64(record + layout.RECORD_FLAT_LENGTH) + layout.SLOT_ENTRY
        used = signed64(label + layout.XTABLE_UBOUND)
        if start and start <= address < start + used * size:
            return name, label, record, (address - start) // size + 1
    return None


# ---------------------------------------------------------------------------
# Printers, chosen by the type that names the item's kind.

class Printer:
    def __init__(self, value):
        self.value = value
        self.address = int(value.address) if value.address is not None else None

    def to_string(self):
        if self.address is None:
            return "(not in memory)"
        try:
            return self.show()
        except gdb.MemoryError:
            return "(cannot be read at 0x%x)" % self.address


class NumberPrinter(Printer):
    def show(self):
        number = NumberItem(self.address, int(self.value["value"]))
        name = program().by_address.get(self.address, "")
        if name.startswith("b_"):
            return "%s  (flag: value %d, picture '%s')" % (flag_text(number.value), number.value,
                                                            number.picture)
        return number.full()


class FlagPrinter(Printer):
    def show(self):
        value = int(self.value["value"])
        return "%s  (value %d)" % (flag_text(value), value)


class WordPrinter(Printer):
    def show(self):
        # the text the value holds (a watchpoint's old value is no longer
        # in memory)
        size = self.value.type.strip_typedefs().sizeof
        length = min(unsigned64(self.address + layout.LENGTH), size)
        text = self.value.cast(gdb.lookup_type("char").array(size - 1))
        raw = bytes(int(text[i]) & 0xFF for i in range(length))
        return "%s  (%d characters)" % (shown_text(raw), len(raw))


class RecordPrinter(Printer):
    def show(self):
        return record_full(self.address)


class FilePrinter(Printer):
    def show(self):
        return file_full(self.address)


class EntryPrinter(Printer):
    def show(self):
        found = table_holding(self.address)
        if found is None:
            return "(no table entry)"
        name, label, record, position = found
        if byte(self.address) == 0:
            return "%s entry %d (never written)" % (name, position)
        return "%s entry %d (written): %s" % (name, position, entry_text(record, self.address))


class SlotPrinter(Printer):
    def show(self):
        found = xtable_holding(self.address)
        if found is None:
            return "(no xtable entry)"
        name, label, record, position = found
        link = unsigned64(self.address + layout.SLOT_LINK)
        slot = link if link else self.address
        live = byte(slot + layout.SLOT_LIVE)
        if live != 1:
            return "%s entry %d (deleted or never written)" % (name, position)
        return "%s entry %d (live): %s" % (name, position,
                                           entry_text(record, slot + layout.SLOT_ENTRY))


def table_summary(label, kind_name):
    record = signed64(label + layout.SCALE)
    flat = signed64(record + layout.RECORD_FLAT_LENGTH)
    record_name = program().name_at(record)
    if kind_name == "qw_table":
        total = unsigned64(label + layout.LENGTH)
        count = total // flat if flat else 0
        written = sum(1 for k in range(count) if byte(label + k * flat) != 0)
        return ("table of %d entries of %s (%d characters), %d written, status %d"
                % (count, record_name, flat, written, signed64(label + layout.TABLE_STATUS)))
    used = signed64(label + layout.XTABLE_UBOUND)
    bound = "bound" if unsigned64(label + layout.XTABLE_BLOCK_START) else "not bound"
    return ("xtable of %s (%d characters), %d entries, %s, status %d"
            % (record_name, flat, used, bound, signed64(label + layout.XTABLE_STATUS)))


class TablePrinter(Printer):
    kind_name = "qw_table"

    def show(self):
        return table_summary(self.address, self.kind_name)


class XtablePrinter(TablePrinter):
    kind_name = "qw_xtable"

    def show(self):
        for label, name, type_name, _ in program().of_type(self.kind_name):
            if int(self.value.address) == unsigned64(label + layout.XTABLE_BLOCK_START):
                return table_summary(label, self.kind_name)
        return "(no xtable)"


PRINTERS = {"qw_number": NumberPrinter, "qw_flag": FlagPrinter, "qw_word": WordPrinter,
            "qw_record": RecordPrinter, "qw_file": FilePrinter, "qw_entry": EntryPrinter,
            "qw_slot": SlotPrinter, "qw_table": TablePrinter, "qw_xtable": XtablePrinter}


def lookup_printer(value):
    type_ = value.type
    if type_.code == gdb.TYPE_CODE_TYPEDEF and str(type_) in PRINTERS:
        return PRINTERS[str(type_)](value)
    name = type_.strip_typedefs().tag
    if name in PRINTERS and type_.strip_typedefs().code == gdb.TYPE_CODE_STRUCT:
        return PRINTERS[name](value)
    return None


# ---------------------------------------------------------------------------
# info items [PREFIX]

KIND_NAMES = {"qw_number": "number", "qw_flag": "flag", "qw_word": "word", "qw_record": "record",
              "qw_file": "file", "qw_table": "table", "qw_xtable": "xtable", "qw_array": "array"}
TEMPORARY = re.compile(r"^[a-z]\d{4}$")


class InfoItems(gdb.Command):
    """The program's items: name, kind, picture or length, value.
Usage: info items [PREFIX]   (only the names that begin with PREFIX)"""

    def __init__(self):
        super().__init__("info items", gdb.COMMAND_DATA)

    def invoke(self, argument, from_tty):
        prefix = argument.strip()
        dictionary = program()
        if not dictionary.items:
            print("No Quillwright items: build the program with quill build -g.")
            return
        records = [(address, self.record_end(address))
                   for address, _, type_name, _ in dictionary.items if type_name == "qw_record"]
        for address, name, type_name, symbol in dictionary.items:
            if not name.startswith(prefix) or TEMPORARY.match(name) or "$" in name:
                continue
            indent = "  " if any(start < address < end for start, end in records) else ""
            print("%-20s %-7s %s" % (indent + name, KIND_NAMES.get(type_name, type_name),
                                     self.about(address, type_name, symbol)))

    @staticmethod
    def record_end(label):
        fields = record_fields(label)
        return fields[-1][0] + 1 if fields else label

    @staticmethod
    def about(address, type_name, symbol):
        try:
            if type_name == "qw_number":
                number = NumberItem(address)
                return "'%s'  %s" % (number.picture, number.short())
            if type_name == "qw_word":
                return "%-4d %s" % (unsigned64(address + layout.LENGTH),
                                    shown_text(word_text(address)))
            if type_name == "qw_flag":
                return flag_text(signed64(address))
            if type_name == "qw_record":
                return "%d characters" % signed64(address + layout.RECORD_FLAT_LENGTH)
            if type_name == "qw_file":
                return file_full(address)
            if type_name in ("qw_table", "qw_xtable"):
                return table_summary(address, type_name)
            return str(symbol.value().format_string(raw=True))
        except gdb.MemoryError:
            return "(cannot be read)"


# ---------------------------------------------------------------------------
# Frames: subs and functions by name.  Translated code keeps no frame
# pointer and carries no unwinding tables; a sub's caller is found as the
# first return address above the stack pointer that follows a call in the
# program's code.  Frames of the runtime library are passed over the same
# way, straight to the statement that called it.

CALL_OPCODE = 0xE8   # call with a 32-bit distance
CALL_SIZE = 5


_marks = []


def program_marks():
    """(address of w_SaveRSP, the entry label) of a program built with -g;
    None for another program.  Looked up when the program is loaded."""
    return _marks[0] if _marks else None


def note_program_marks():
    del _marks[:]
    if gdb.lookup_global_symbol("exitRepeat") is None:
        return
    try:
        entry = minimal_address("_start")
    except gdb.error:
        entry = 0
    try:
        _marks.append((minimal_address("w_SaveRSP"), entry))
    except gdb.error:
        pass


def in_program_code(address):
    symtab = gdb.find_pc_line(address - 1).symtab
    return symtab is not None


def address_value(address):
    return gdb.Value(address).cast(gdb.lookup_type("long"))


class FrameId:
    def __init__(self, sp, pc):
        self.sp = address_value(sp)
        self.pc = address_value(pc)


class SubUnwinder(gdb.unwinder.Unwinder):
    def __init__(self):
        super().__init__("quillwright")

    def __call__(self, pending_frame):
        try:
            return self.unwind(pending_frame)
        except (gdb.error, gdb.MemoryError):
            return None

    def unwind(self, pending_frame):
        # No expression is evaluated here: that would ask for the frames
        # being unwound.
        marks = program_marks()
        if marks is None:
            return None
        save_rsp, entry = marks
        sp = int(pending_frame.read_register("rsp"))
        top = unsigned64(save_rsp)
        if not top or sp >= top:
            return None
        slot = self.return_slot(sp, top)
        if slot is None:
            # the main line: the outermost frame of the program
            info = pending_frame.create_unwind_info(FrameId(top, entry))
            info.add_saved_register("rip", address_value(0))
            info.add_saved_register("rsp", address_value(top))
            return info
        back = unsigned64(slot)
        distance = int.from_bytes(read(back - 4, 4), "little", signed=True)
        info = pending_frame.create_unwind_info(FrameId(slot + 8, back + distance))
        info.add_saved_register("rip", address_value(back))
        info.add_saved_register("rsp", address_value(slot + 8))
        return info

    @staticmethod
    def return_slot(sp, top):
        chunk = 512
        at = sp
        while at < top:
            count = min(chunk, top - at)
            words = read(at, count)
            for i in range(0, count - 7, 8):
                word = int.from_bytes(words[i:i + 8], "little")
                if word > CALL_SIZE and word < 1 << 47 and SubUnwinder.is_return(word):
                    return at + i
            at += count
        return None

    @staticmethod
    def is_return(address):
        try:
            if byte(address - CALL_SIZE) != CALL_OPCODE:
                return False
        except gdb.MemoryError:
            return False
        return in_program_code(address)


class SubName(gdb.FrameDecorator.FrameDecorator):
    """A sub's frame is named after the sub also at its end (the label
    NAME_EXIT, where its return lies)."""

    def function(self):
        name = self.inferior_frame().name()
        if name is not None and name.endswith("_EXIT"):
            return name[:-len("_EXIT")]
        return super().function()


class SubNames:
    def __init__(self):
        self.name = "quillwright"
        self.priority = 100
        self.enabled = True
        gdb.frame_filters[self.name] = self

    def filter(self, frames):
        return map(SubName, frames)


# ---------------------------------------------------------------------------
# A fatal run-time error stops before the program ends: at the end of the
# runtime's fatal exit, after its message, the statement that failed is
# shown and its frame selected.

FATAL_EXIT = "qw::(anonymous namespace)::fatal_exit(long, char const*, char const*)"
FIND_POSITION = "qw::find_source_position(qw::SourcePosition&)"
EXIT_GROUP = bytes([0xB8, 0xE7, 0x00, 0x00, 0x00])   # mov eax, 231 (exit_group)
SYSCALL = bytes([0x0F, 0x05])


class FatalExit(gdb.Breakpoint):
    """At the fatal exit's entry: a stop is set at its exit_group."""

    def __init__(self, address):
        super().__init__("*%d" % address, internal=True)
        self.silent = True
        self.at_exit = None

    def stop(self):
        if self.at_exit is None:
            code = read(self.location_address(), 512)
            found = code.find(EXIT_GROUP)
            call = code.find(SYSCALL, found) if found >= 0 else -1
            if call < 0:
                return True   # an exit of another form: stop at the entry
            self.at_exit = FatalStop(self.location_address() + call)
        return False

    def location_address(self):
        return int(self.location.lstrip("*"))


class FatalStop(gdb.Breakpoint):
    def __init__(self, address):
        super().__init__("*%d" % address, internal=True)
        self.silent = True

    def stop(self):
        return True


def on_stop(event):
    if isinstance(event, gdb.BreakpointEvent) and any(
            isinstance(breakpoint, (FatalExit, FatalStop)) for breakpoint in event.breakpoints):
        show_failing_statement()


def source_position():
    """(file, line) of the failing statement, as the runtime finds it."""
    find = function_address(FIND_POSITION)
    if find is None:
        return None
    out = scratch()
    gdb.selected_inferior().write_memory(out, bytes(24))
    found = gdb.parse_and_eval("((char (*)(long))%d)(%d)" % (find, out))
    if not int(found) & 0xFF:
        return None
    name = read(unsigned64(out), unsigned64(out + 8)).decode("latin-1")
    return name, unsigned64(out + 16)


def in_package(symtab):
    return os.path.basename(os.path.dirname(symtab.filename)) == "include"


def show_failing_statement():
    position = source_position()
    frame = gdb.newest_frame()
    while frame is not None and (frame.find_sal().symtab is None or
                                 in_package(frame.find_sal().symtab)):
        frame = frame.older()
    if position is not None:
        print("The run-time error above stopped the program at %s:%d before its end; "
              "'continue' ends it." % position)
    if frame is not None:
        frame.select()
        # A statement that jumped to a fault stub has left no return
        # address of its own: its line is the runtime's.
        line = frame.find_sal().line
        if position is not None and position[0] == frame.find_sal().symtab.filename:
            line = position[1]
        show_frame(frame, line)


def show_frame(frame, line):
    """The frame's sub and a line of its source, as gdb shows a stop."""
    symtab = frame.find_sal().symtab
    name = frame.name() or "??"
    if name.endswith("_EXIT"):
        name = name[:-len("_EXIT")]
    print("%s () at %s:%d" % (name, symtab.filename, line))
    try:
        with open(symtab.fullname(), encoding="latin-1") as source:
            lines = source.read().split("\n")
        print("%d\t%s" % (line, lines[line - 1]))
    except (OSError, IndexError):
        pass


def watch_fatal_errors(_event=None):
    address = function_address(FATAL_EXIT)
    if address is None:
        return
    for breakpoint in gdb.breakpoints() or ():
        if isinstance(breakpoint, FatalExit):
            return
    FatalExit(address)


# ---------------------------------------------------------------------------
# Setting up.

def setup():
    gdb.printing.register_pretty_printer(None, lookup_printer, replace=True)
    gdb.unwinder.register_unwinder(None, SubUnwinder(), replace=True)
    InfoItems()
    SubNames()
    # step goes into subs and functions, never into the package's routines
    for pattern in ("*/include/BEGIN.*", "*/include/END.PROGRAM", "*/include/*.mac"):
        gdb.execute("skip -gfile %s" % pattern, to_string=True)
    forget_program()
    gdb.events.new_objfile.connect(forget_program)
    gdb.events.new_objfile.connect(watch_fatal_errors)
    gdb.events.stop.connect(on_stop)
    watch_fatal_errors()


setup()
