#!/usr/bin/env python3
"""Files made from the public header include/qvarc32.h, so they cannot drift from it.

    qv_exports.py names HEADER              print the exported functions, one a line
    qv_exports.py def HEADER OUT            write the module-definition file of QvArc32.dll
    qv_exports.py bas HEADER OUT [--check]  write (or, with --check, compare) the Visual Basic
                                            declarations module

The header is read as its own conventions write it: every export is one
"QV_API <return> QV_CALL <Name>(<parameters>);" declaration, records are typedef'd structs
(packed between "#pragma pack(push, 1)" and "#pragma pack(pop)"), constants are enum members
and "#define QV_... <number>" lines. Anything the Visual Basic side cannot express is an error,
so a new export with a new kind of parameter stops the build instead of declaring it wrong.
"""

import difflib
import re
import sys

LIBRARY = "QvArc32.dll"

# ---- Reading the header -------------------------------------------------------------------


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    return re.sub(r"//[^\n]*", "", text)


class Header:
    def __init__(self, path):
        with open(path, encoding="utf-8") as f:
            self.text = strip_comments(f.read())
        self.aliases = dict(
            (m.group(2), m.group(1)) for m in re.finditer(r"typedef\s+(\w+)\s+(\w+)\s*;", self.text))
        self.callbacks = set(re.findall(r"typedef\s+[\w\s]+\(\s*QV_CALL\s*\*\s*(\w+)\s*\)", self.text))
        self.exports = self._exports()
        self.records = self._records()
        self.constants = self._constants()

    def _exports(self):
        exports = []
        for m in re.finditer(r"QV_API\s+([^;]*?)\s+QV_CALL\s+(\w+)\s*\(([^)]*)\)\s*;", self.text):
            params = [] if m.group(3).strip() in ("", "void") else [
                parse_declaration(p) for p in m.group(3).split(",")]
            exports.append((m.group(2), " ".join(m.group(1).split()), params))
        # A QV_API line the pattern above did not take would silently go missing.
        if len(exports) != self.text.count("QV_API ") - self.text.count("#define QV_API "):
            sys.exit("qv_exports: an exported declaration does not have the form "
                     "'QV_API <return> QV_CALL <Name>(<parameters>);'")
        return exports

    def _records(self):
        records = []
        packed_ranges = []
        for m in re.finditer(r"#pragma\s+pack\s*\(\s*push\s*,\s*1\s*\)(.*?)#pragma\s+pack\s*\(\s*pop\s*\)",
                             self.text, flags=re.S):
            packed_ranges.append((m.start(), m.end()))
        for m in re.finditer(r"typedef\s+struct\s+(\w+)\s*\{(.*?)\}\s*(\w+)\s*;", self.text, flags=re.S):
            if m.group(1) != m.group(3):
                sys.exit(f"qv_exports: struct {m.group(1)} is typedef'd as {m.group(3)}")
            packed = any(a <= m.start() < b for a, b in packed_ranges)
            fields = [parse_declaration(f) for f in m.group(2).split(";") if f.strip()]
            records.append((m.group(1), packed, fields))
        return records

    def _constants(self):
        constants = []
        for body in re.findall(r"enum\s*\{(.*?)\}\s*;", self.text, flags=re.S):
            value = -1
            for item in body.split(","):
                item = item.strip()
                if not item:
                    continue
                if "=" in item:
                    key, expr = (s.strip() for s in item.split("=", 1))
                    value = parse_number(expr)
                else:
                    key, value = item, value + 1
                constants.append((key, value))
        for key, expr in re.findall(r"^\s*#define\s+(QV_\w+)\s+(.+?)\s*$", self.text, flags=re.M):
            value = parse_number(re.sub(r"\(\s*\w+\s*\)", "", expr).strip("() "), strict=False)
            if value is not None:
                constants.append((key, value))
        return constants

    def resolve(self, ctype):
        while ctype in self.aliases:
            ctype = self.aliases[ctype]
        return ctype


def parse_number(expr, strict=True):
    m = re.fullmatch(r"(-?)\s*(0[xX][0-9a-fA-F]+|\d+)[uUlL]*", expr.strip())
    if not m:
        if strict:
            sys.exit(f"qv_exports: '{expr}' is not a number")
        return None
    value = int(m.group(2), 0)
    return -value if m.group(1) else value


def parse_declaration(decl):
    """'const char* name' -> ('const char*', 'name', None); 'char x[260]' -> ('char', 'x', 260)."""
    decl = " ".join(decl.split())
    m = re.fullmatch(r"(.*?)\s*\b(\w+)\s*(?:\[\s*(\d+)\s*\])?", decl)
    if not m or not m.group(1):
        sys.exit(f"qv_exports: cannot read the declaration '{decl}'")
    ctype = re.sub(r"\s*\*", "*", m.group(1)).strip()
    return ctype, m.group(2), int(m.group(3)) if m.group(3) else None


# ---- Module-definition file ---------------------------------------------------------------


def stdcall_bytes(header, name, params):
    """Bytes of arguments a stdcall export pops: one 32-bit slot per parameter."""
    for ctype, pname, _ in params:
        base = header.resolve(ctype.replace("const ", "").strip())
        if not (base.endswith("*") or base in header.callbacks or (base in SIZES and SIZES[base] <= 4)):
            sys.exit(f"qv_exports: {name}: parameter '{ctype} {pname}' does not fit one 32-bit slot")
    return 4 * len(params)


def make_def(header):
    # The stdcall names ("Name@bytes") let programs link the import library as the compiler
    # decorates their calls; the linker's --kill-at exports them under the plain names.
    lines = [
        "; QvArc32.dll exports: stdcall functions, exported under their plain names (--kill-at).",
        "; Made from include/qvarc32.h by cmake/qv_exports.py.",
        f"LIBRARY {LIBRARY}",
        "EXPORTS",
    ]
    lines += [f"    {name}@{stdcall_bytes(header, name, params)}" for name, _, params in header.exports]
    return "\n".join(lines) + "\n"


# ---- Visual Basic declarations ----------------------------------------------------------------

SIZES = {"int8_t": 1, "uint8_t": 1, "char": 1, "int16_t": 2, "uint16_t": 2, "int32_t": 4, "uint32_t": 4}
VB_SCALAR = {1: "Byte", 2: "Integer", 4: "Long"}

# Words Visual Basic reserves or gives a meaning of its own (statements, types, intrinsic
# functions that parameters would shadow). Names of the header that are one of them get a
# suffix on the Visual Basic side.
VB_RESERVED = set("""
access alias and any append as attribute base binary boolean byref byte byval call case close
compare const currency date day debug declare dim do double each else elseif empty end enum eqv
erase error event exit explicit false for friend function get global gosub goto hour if imp
implements in input integer is kill len let lib like line load lock long loop lset me mid minute
mod month name new next not nothing null object on open option optional or output paramarray
print private property public put random redim rem reset resume return rset second seek select
set shared single spc static step stop string sub tab text then time to true type unload unlock
until variant wend while width with write xor year
""".split())


def vb_name(name, suffix):
    return name + suffix if name.lower() in VB_RESERVED else name


def vb_field_layout(header, ctype, count):
    """(size, alignment under Visual Basic's natural layout) of one record field."""
    ctype = header.resolve(ctype)
    if ctype not in SIZES:
        sys.exit(f"qv_exports: record field type '{ctype}' has no Visual Basic equivalent")
    size = SIZES[ctype]
    return size * (count or 1), 1 if count else min(size, 4)


def vb_record(header, name, packed, fields):
    """A Type block. Visual Basic aligns each field to its size (up to 4 bytes); a packed record
    whose fields would move under that rule, or that holds text, is given as its bytes with the
    offsets of its fields."""
    lines = []
    c_offset = vb_offset = 0
    same = True
    layout = []
    for ctype, field, count in fields:
        size, align = vb_field_layout(header, ctype, count)
        if not packed:
            sys.exit(f"qv_exports: record {name} is not packed; its layout would depend on the compiler")
        vb_offset = (vb_offset + align - 1) // align * align
        if vb_offset != c_offset or (count and header.resolve(ctype) == "char"):
            same = False
        layout.append((ctype, field, count, c_offset, size))
        c_offset += size
        vb_offset += size
    total = c_offset
    if same:
        lines.append(f"Public Type {name}")
        for ctype, field, count, _, size in layout:
            vb_type = VB_SCALAR[SIZES[header.resolve(ctype)]]
            dims = f"(0 To {count - 1})" if count else ""
            lines.append(f"    {vb_name(field, 'Field')}{dims} As {vb_type}")
        lines.append("End Type")
    else:
        upper = name.upper()
        lines.append(f"' {name} is packed: its fields do not lie where Visual Basic would put them, so")
        lines.append(f"' the record is given as its {total} bytes; the QV_{upper}_* constants are")
        lines.append("' the offsets of its fields (Long and Integer values little-endian, text ANSI).")
        lines.append(f"Public Type {name}")
        lines.append(f"    Bytes(0 To {total - 1}) As Byte")
        lines.append("End Type")
        lines.append(f"Public Const QV_{upper}_SIZE As Long = {total}")
        for ctype, field, count, offset, size in layout:
            what = f"{ctype}[{count}]" if count else ctype
            lines.append(f"Public Const QV_{upper}_{field.upper()} As Long = {offset}  ' {what}")
    return lines


def vb_parameter(header, ctype, pname):
    records = {name for name, _, _ in header.records}
    base = ctype.replace("const ", "").strip()
    pointer = base.endswith("*")
    base = header.resolve(base.rstrip("*").strip())
    name = vb_name(pname, "Arg")
    if base in header.callbacks and not pointer:
        return f"ByVal {name} As Long"  # AddressOf a function
    if not pointer:
        if base in SIZES and SIZES[base] in (2, 4):
            return f"ByVal {name} As {VB_SCALAR[SIZES[base]]}"
    elif base == "char":
        return f"ByVal {name} As String"
    elif base in ("void", "uint8_t", "int8_t"):
        return f"ByRef {name} As Any"  # a buffer: pass its first element, or ByVal 0& for none
    elif base in records:
        return f"ByRef {name} As {base}"
    elif base in SIZES and SIZES[base] in (2, 4):
        return f"ByRef {name} As {VB_SCALAR[SIZES[base]]}"
    sys.exit(f"qv_exports: parameter '{ctype} {pname}' has no Visual Basic equivalent")


def vb_declare(header, name, ret, params):
    args = ", ".join(vb_parameter(header, ctype, pname) for ctype, pname, _ in params)
    ret = header.resolve(ret)
    if ret == "void":
        return f'Public Declare Sub {name} Lib "{LIBRARY}" ({args})'
    if ret not in SIZES or SIZES[ret] not in (2, 4):
        sys.exit(f"qv_exports: {name} returns '{ret}', which has no Visual Basic equivalent")
    return f'Public Declare Function {name} Lib "{LIBRARY}" ({args}) As {VB_SCALAR[SIZES[ret]]}'


def vb_constant(name, value):
    if -32768 <= value <= 32767:
        return f"Public Const {name} As Integer = {value}"
    if value >= 2**31:
        value -= 2**32  # Visual Basic has no unsigned Long
    return f"Public Const {name} As Long = {value}"


def make_bas(header):
    lines = [
        'Attribute VB_Name = "QvArc32"',
        "' QvArc32.bas - Visual Basic declarations of the QvArc32 library (32-bit QvArc32.dll).",
        "' Made from include/qvarc32.h by cmake/qv_exports.py; change the header, then run",
        "'   python3 cmake/qv_exports.py bas include/qvarc32.h include/QvArc32.bas",
        "' Text goes in and out as String (fill output buffers with Space$ first); buffers and",
        "' optional records are As Any: pass the first element of an array, or ByVal 0& for none.",
        "Option Explicit",
        "",
        "' ---- Constants",
    ]
    lines += [vb_constant(name, value) for name, value in header.constants]
    lines += ["", "' ---- Records"]
    for name, packed, fields in header.records:
        lines += vb_record(header, name, packed, fields) + [""]
    lines += ["' ---- Functions"]
    lines += [vb_declare(header, name, ret, params) for name, ret, params in header.exports]
    # Visual Basic source files are CR LF text.
    return "\r\n".join(lines) + "\r\n"


def main(argv):
    if len(argv) < 3 or argv[1] not in ("names", "def", "bas"):
        sys.exit(__doc__)
    header = Header(argv[2])
    if argv[1] == "names":
        print("\n".join(name for name, _, _ in header.exports))
        return 0
    if len(argv) < 4:
        sys.exit(__doc__)
    text = make_def(header) if argv[1] == "def" else make_bas(header)
    out = argv[3]
    if "--check" in argv[4:]:
        try:
            with open(out, encoding="latin-1", newline="") as f:
                current = f.read()
        except FileNotFoundError:
            current = ""
        if current != text:
            diff = difflib.unified_diff(current.splitlines(), text.splitlines(), out, "from the header",
                                        lineterm="", n=1)
            sys.stderr.write("\n".join(list(diff)[:60]) + "\n")
            sys.stderr.write(f"{out} does not match {argv[2]}; run:\n"
                             f"  python3 cmake/qv_exports.py {argv[1]} {argv[2]} {out}\n")
            return 1
        return 0
    with open(out, "w", encoding="latin-1", newline="") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
