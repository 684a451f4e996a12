#!/usr/bin/env python3
"""Correct widl's stubless (-Oif) proxy output for [string] pointer parameters.

widl 7/8 gets the type offset of a parameter wrong when the parameter is a
pointer with [string] on it or on the type it points to (LPOLESTR * too): it
points at an inner level of the description it wrote, while the NDR engine (Wine's, following
MIDL) reads the offset as the description of the parameter itself. The
correct description always sits right in front of the wrong offset T:

  out string     [out, string] LPWSTR *  (also [in, out]): T is the FC_OP to
                 the conformant string; T-4 holds FC_RP [allocated_on_stack]
                 [pointer_deref] with offset 2. Uncorrected, the client gets
                 NULL with S_OK; an [in, out] one fails on a NULL input.
  out string     [out, string, size_is(,n)] LPWSTR **: T is the conformant
  array          array; T-8 holds that FC_RP, T-4 an FC_OP/FC_UP with offset 2.
                 Uncorrected, the array lands on the caller's pointer variable
                 (garbage, then a crash).
  in string      [in, string, size_is(n)] LPWSTR * (a simple ref): T lies 4
  array          bytes inside the conformant array's description, which starts
                 at T-4 (behind an FC_RP with offset 2 at T-8). Uncorrected,
                 the call fails with RPC_X_BAD_STUB_DATA.

widl also gives [in, out] parameters a server allocation size (flag bits
13-15), which MIDL never does; it is cleared on the entries corrected here.

  in complex     [in, size_is(n)] OPCITEMDEF * and every other [in] array the
  array          stub must build (structures with pointers, VARIANTs, strings):
                 widl describes it as a simple ref straight to the array, and
                 Wine's stub then frees what the elements point to but never the
                 array it allocated: about 48 bytes per item of every AddItems,
                 ValidateItems, Write or WriteVQT stay behind in the server. The
                 entry is pointed at the FC_RP that widl writes after the array,
                 as a plain reference pointer, which the stub frees whole; the
                 bytes on the wire are the same.

The procedure format string is walked structurally (procedure headers, then
6-byte parameter entries) and the byte count is checked against widl's own
offset comments. Every non-base-type parameter must end up pointing at the
start of a type description (one of widl's offset comments) of a shape this
script knows; anything else stops the build with a message.

Usage: fix_widl_proxy.py INPUT_P_C [OUTPUT_P_C]   (default: rewrite INPUT)
"""

import os
import re
import sys
import tempfile

FC_RP = 0x11
FC_UP = 0x12
FC_OP = 0x13
FC_ALLOCED_ON_STACK = 0x04
FC_SIMPLE_POINTER = 0x08
FC_POINTER_DEREF = 0x10
FC_C_CSTRING = 0x22
FC_C_WSTRING = 0x25
FC_CARRAY = 0x1B
FC_CVARRAY = 0x1C
FC_BOGUS_ARRAY = 0x21
FC_PAD = 0x5C
FC_AUTO_HANDLE = 0x33

OI_HAS_RPCFLAGS = 0x08
OI_OBJ_USE_V2_INTERPRETER = 0x20
OPT_HAS_EXTENSIONS = 0x40

PARAM_IN = 0x0008
PARAM_OUT = 0x0010
PARAM_BASETYPE = 0x0040
PARAM_SIMPLE_REF = 0x0100
PARAM_SRV_ALLOC_MASK = 0xE000
PARAM_ENTRY_SIZE = 6

TOKEN_RE = re.compile(
    r"NdrFcShort\(\s*([^)]*?)\s*\)|NdrFcLong\(\s*([^)]*?)\s*\)|(0x[0-9a-fA-F]+|\d+)|([{}])|(,)|(\S)")
OFFSET_COMMENT_RE = re.compile(r"(\d+)(?:\s+\((.*)\))?")


class FixError(Exception):
    pass


class Token:
    def __init__(self, line, offset, size, value):
        self.line = line      # index into the file's lines
        self.offset = offset  # byte offset in the format string
        self.size = size      # 1, 2 or 4 bytes
        self.value = value


class FormatString:
    """Bytes of one widl format-string array, with the source line of each."""

    def __init__(self, lines, name):
        self.name = name
        self.tokens = []
        self.data = bytearray()
        self.markers = {}  # offset -> label, from widl's offset comments
        self._parse(lines)

    def _parse(self, lines):
        start = next((i for i, l in enumerate(lines) if re.search(r"\b%s\s*=" % self.name, l)), None)
        if start is None:
            raise FixError("%s not found" % self.name)
        depth = 0
        pending = []
        for i in range(start + 1, len(lines)):
            code, comments = split_comments(lines[i], i)
            # widl puts offset comments ("/* 32 (parameter ppString) */") on
            # lines of their own; a number after a value is that value.
            for comment in comments if not code.strip() else []:
                m = OFFSET_COMMENT_RE.fullmatch(comment.strip())
                if m:
                    pending.append((int(m.group(1)), m.group(2) or "", i))
            for m in TOKEN_RE.finditer(code):
                short, long_, byte, brace, comma, other = m.groups()
                if brace == "{":
                    depth += 1
                elif brace == "}":
                    depth -= 1
                    if depth == 0:
                        if pending:
                            raise FixError("%s: offset comment after the last byte" % self.name)
                        return
                elif comma:
                    pass
                elif other:
                    raise FixError("%s line %d: unexpected text %r" % (self.name, i + 1, other))
                elif depth == 1:
                    continue  # the structure's pad field
                elif depth == 2:
                    if short is not None:
                        self._add(i, 2, int(short, 0), pending)
                    elif long_ is not None:
                        self._add(i, 4, int(long_, 0), pending)
                    else:
                        self._add(i, 1, int(byte, 0), pending)
                else:
                    raise FixError("%s line %d: unexpected nesting" % (self.name, i + 1))
        raise FixError("%s: end of array not found" % self.name)

    def _add(self, line, size, value, pending):
        offset = len(self.data)
        for marker_offset, label, marker_line in pending:
            if marker_offset != offset:
                raise FixError("%s line %d: widl says offset %d, counted %d"
                               % (self.name, marker_line + 1, marker_offset, offset))
            self.markers[offset] = label
        pending.clear()
        if value < 0 or value >= 1 << (8 * size):
            raise FixError("%s line %d: value 0x%x does not fit %d byte(s)" % (self.name, line + 1, value, size))
        self.tokens.append(Token(line, offset, size, value))
        self.data += value.to_bytes(size, "little")

    def byte(self, offset):
        if not 0 <= offset < len(self.data):
            raise FixError("%s: offset %d out of range" % (self.name, offset))
        return self.data[offset]

    def short(self, offset):
        return self.byte(offset) | self.byte(offset + 1) << 8

    def short_token(self, offset):
        """The NdrFcShort token that encodes the two bytes at offset."""
        for token in self.tokens:
            if token.offset == offset and token.size == 2:
                return token
        raise FixError("%s: no NdrFcShort at offset %d" % (self.name, offset))


def split_comments(line, index):
    """Return the line with comments blanked out, and the comment texts."""
    comments = []
    code = line
    while True:
        begin = code.find("/*")
        if begin < 0:
            return code, comments
        end = code.find("*/", begin + 2)
        if end < 0:
            raise FixError("line %d: comment spans lines" % (index + 1))
        comments.append(code[begin + 2:end])
        code = code[:begin] + " " * (end + 2 - begin) + code[end + 2:]


class Parameter:
    def __init__(self, name, offset, flags, type_offset):
        self.name = name
        self.offset = offset
        self.flags = flags
        self.type_offset = type_offset


def walk_procedures(proc):
    """Yield every non-base-type parameter entry of an -Oif object proc string."""
    pos = 0
    end = len(proc.data) - 1  # the array ends with one 0 byte
    if end < 0 or proc.data[end] != 0:
        raise FixError("procedure format string does not end with 0")
    while pos < end:
        procedure = proc.markers.get(pos, "")
        if not procedure.startswith("procedure "):
            raise FixError("no widl procedure comment at offset %d: walk lost step" % pos)
        handle_type = proc.byte(pos)
        oi_flags = proc.byte(pos + 1)
        if handle_type != FC_AUTO_HANDLE:
            raise FixError("%s: handle type 0x%02x, expected FC_AUTO_HANDLE" % (procedure, handle_type))
        if not oi_flags & OI_OBJ_USE_V2_INTERPRETER:
            raise FixError("%s: not -Oif output (Oi flags 0x%02x)" % (procedure, oi_flags))
        pos += 2
        if oi_flags & OI_HAS_RPCFLAGS:
            pos += 4
        pos += 2 + 2 + 2 + 2  # procedure number, stack size, client and server buffer sizes
        opt_flags = proc.byte(pos)
        param_count = proc.byte(pos + 1)
        pos += 2
        if opt_flags & OPT_HAS_EXTENSIONS:
            extension_size = proc.byte(pos)
            if extension_size < 2:
                raise FixError("%s: extension size %d" % (procedure, extension_size))
            pos += extension_size
        for _ in range(param_count):
            label = proc.markers.get(pos, "")
            if not (label.startswith("parameter ") or label == "return value"):
                raise FixError("%s: no widl parameter comment at offset %d" % (procedure, pos))
            flags = proc.short(pos)
            if not flags & PARAM_BASETYPE:
                yield Parameter("%s, %s" % (procedure, label), pos, flags, proc.short(pos + 4))
            pos += PARAM_ENTRY_SIZE
    if pos != end:
        raise FixError("procedure walk ended at %d, string ends at %d" % (pos, end))


def is_string_pointer(types, t):
    """FC_OP/FC_UP [simple_pointer] to a conformant string."""
    return (types.byte(t) in (FC_OP, FC_UP) and types.byte(t + 1) == FC_SIMPLE_POINTER
            and types.byte(t + 2) in (FC_C_WSTRING, FC_C_CSTRING) and types.byte(t + 3) == FC_PAD)


def is_conformant_array(types, t):
    return t in types.markers and types.byte(t) in (FC_CARRAY, FC_CVARRAY, FC_BOGUS_ARRAY)


def is_pointer_to(types, p, kinds, flags, target):
    """A full pointer description at p of one of kinds, with flags, leading to target."""
    return (p >= 0 and p in types.markers and types.byte(p) in kinds
            and types.byte(p + 1) == flags and p + 2 + types.short(p + 2) == target)


OUTER_REF = FC_ALLOCED_ON_STACK | FC_POINTER_DEREF


def reference_to(types, target):
    """The plain FC_RP description that leads to target (offsets are signed), or None."""
    def leads_to_target(p):
        offset = types.short(p + 2)
        offset -= 0x10000 if offset & 0x8000 else 0
        return types.byte(p) == FC_RP and types.byte(p + 1) == 0 and p + 2 + offset == target
    return next((p for p in sorted(types.markers) if p + 3 < len(types.data) and leads_to_target(p)), None)


def corrected_offset(types, param):
    """The type offset the entry should have, or None if it is right already."""
    t = param.type_offset
    server_alloc = param.flags & PARAM_SRV_ALLOC_MASK
    if param.flags & PARAM_SIMPLE_REF:
        if (t in types.markers and types.byte(t) == FC_BOGUS_ARRAY and param.flags & PARAM_IN
                and not param.flags & PARAM_OUT):
            wrapper = reference_to(types, t)
            if wrapper is None:
                raise FixError("%s: no FC_RP to the array at %d" % (param.name, t))
            return wrapper  # in complex array
        if t in types.markers:
            return None
        if (is_conformant_array(types, t - 4) and is_pointer_to(types, t - 8, (FC_RP,), 0, t - 4)
                and not server_alloc):
            return t - 4  # in string array
    elif not server_alloc:
        if t in types.markers:
            return None
    else:
        if t in types.markers and types.byte(t) == FC_RP and not param.flags & PARAM_IN:
            return None  # the outer reference pointer, as MIDL emits it
        if is_string_pointer(types, t) and is_pointer_to(types, t - 4, (FC_RP,), OUTER_REF, t):
            return t - 4  # out string
        if (is_conformant_array(types, t) and is_pointer_to(types, t - 4, (FC_OP, FC_UP), 0, t)
                and is_pointer_to(types, t - 8, (FC_RP,), OUTER_REF, t - 4)):
            return t - 8  # out string array
    raise FixError("%s: shape not known: flags 0x%04x (%s), type offset %d -> 0x%02x 0x%02x"
                   % (param.name, param.flags, describe_flags(param.flags), t,
                      types.byte(t), types.byte(t + 1)))


def describe_flags(flags):
    names = [(0x1, "must size"), (0x2, "must free"), (0x4, "pipe"), (0x8, "in"), (0x10, "out"),
             (0x20, "return"), (0x40, "base type"), (0x80, "by value"), (0x100, "simple ref"),
             (0x200, "don't free inst"), (0x400, "save for async finish")]
    words = [text for bit, text in names if flags & bit]
    if flags & PARAM_SRV_ALLOC_MASK:
        words.append("srv size=%d" % ((flags >> 13) * 8))
    return ", ".join(words)


def rewrite_short(lines, token, value, comment):
    line = lines[token.line]
    code, _ = split_comments(line, token.line)
    if len(TOKEN_RE.findall(code.replace(",", " ").strip())) != 1:
        raise FixError("line %d: expected one value on the line: %r" % (token.line + 1, line))
    indent = line[:len(line) - len(line.lstrip())]
    newline = "\n" if line.endswith("\n") else ""
    lines[token.line] = "%sNdrFcShort(0x%x),\t/* %s */%s" % (indent, value, comment, newline)


def fix(text):
    """Return the corrected text, the names of the corrected entries and how
    many of them had their server allocation size cleared."""
    lines = text.splitlines(keepends=True)
    proc = FormatString(lines, "__MIDL_ProcFormatString")
    types = FormatString(lines, "__MIDL_TypeFormatString")
    fixed = []
    cleared = 0
    for param in list(walk_procedures(proc)):
        type_offset = corrected_offset(types, param)
        if type_offset is None:
            continue
        flags = param.flags
        if flags & PARAM_SIMPLE_REF and not flags & PARAM_OUT and types.byte(param.type_offset) == FC_BOGUS_ARRAY:
            flags &= ~PARAM_SIMPLE_REF
            rewrite_short(lines, proc.short_token(param.offset), flags,
                          "flags: %s (a reference pointer, not a simple ref)" % describe_flags(flags))
        if flags & PARAM_IN and flags & PARAM_OUT and flags & PARAM_SRV_ALLOC_MASK:
            flags &= ~PARAM_SRV_ALLOC_MASK
            cleared += 1
            rewrite_short(lines, proc.short_token(param.offset), flags,
                          "flags: %s (srv size cleared)" % describe_flags(flags))
        rewrite_short(lines, proc.short_token(param.offset + 4), type_offset,
                      "type offset = %d (corrected from %d)" % (type_offset, param.type_offset))
        fixed.append(param.name)
    return "".join(lines), fixed, cleared


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    source = argv[1]
    target = argv[2] if len(argv) == 3 else source
    try:
        with open(source, encoding="utf-8") as f:
            text = f.read()
        fixed_text, fixed, cleared = fix(text)
    except (OSError, FixError) as e:
        print("fix_widl_proxy: %s: %s" % (source, e), file=sys.stderr)
        return 1
    directory = os.path.dirname(os.path.abspath(target))
    with tempfile.NamedTemporaryFile("w", encoding="utf-8", dir=directory, delete=False,
                                     prefix=".fix_widl_proxy.") as out:
        out.write(fixed_text)
    os.chmod(out.name, 0o644)
    os.replace(out.name, target)
    print("fix_widl_proxy: %s: fixed %d parameter entries (%d in/out with srv size cleared)"
          % (os.path.basename(target), len(fixed), cleared))
    if os.environ.get("FIX_WIDL_PROXY_VERBOSE"):
        for name in fixed:
            print("  " + name)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
