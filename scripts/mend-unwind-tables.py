#!/usr/bin/env python3
"""Gives GCC's COMDAT unwind tables the section symbol lld needs to keep them.

mend-unwind-tables.py IN.a OUT.a

GNU as writes the .pdata$FUNC section of an inline or template function
(COMDAT) without a section symbol, as nothing refers to it. GNU ld keeps such
a section with its function; lld only keeps a COMDAT section that a symbol
defines, so it drops the table, and an exception that passes through the
function (std::string's members among them, when new throws) finds no unwind
information there: the process ends in std::terminate, or unwinds on with the
caller's saved registers wrong. Each such section here gets the symbol GNU as
leaves out: a static section definition, associative to the code section the
table describes (the target of its first relocation), so the table is kept
exactly when the function is.

Only objects that need it change; every other byte of the archive stays, and
llvm-ranlib writes the archive's index anew. Prints how many tables it mended.
"""

import struct
import subprocess
import sys

COMDAT = 0x00001000
ASSOCIATIVE = 5
STATIC = 3
SYMBOL = 18
SECTION = 40


def section_name(raw, strings):
    name = raw.rstrip(b"\0")
    if name.startswith(b"/"):
        offset = int(name[1:])
        return strings[offset:strings.index(b"\0", offset)], struct.pack("<II", 0, offset)
    return name, raw


def mend_object(data):
    """Returns (mended bytes, tables mended) for one COFF object."""
    machine, nsections, _, symtab, nsymbols, optional, _ = struct.unpack_from("<HHIIIHH", data, 0)
    if machine == 0 and nsections == 0xFFFF and struct.unpack_from("<H", data, 4)[0] >= 2:
        raise SystemExit("mend-unwind-tables: a bigobj member, whose tables this does not read")
    if machine != 0x8664 or symtab == 0:
        return data, 0  # a short import member, or no symbols: no tables to mend
    strings_at = symtab + nsymbols * SYMBOL
    strings = data[strings_at:]
    sections = []
    for i in range(nsections):
        at = 20 + optional + i * SECTION
        raw = data[at:at + 8]
        size, _, relocs, _, nrelocs, _, flags = struct.unpack_from("<IIIIHHI", data, at + 16)
        name, symbol_name = section_name(raw, strings)
        sections.append((name, symbol_name, size, relocs, nrelocs, flags))

    defined = set()
    symbols = []
    i = 0
    while i < nsymbols:
        at = symtab + i * SYMBOL
        number, _, storage, naux = struct.unpack_from("<hHBB", data, at + 12)
        symbols.append(number)
        if storage == STATIC and naux == 1:
            defined.add(number)
        symbols.extend([None] * naux)
        i += 1 + naux

    added = b""
    for index, (name, symbol_name, size, relocs, nrelocs, flags) in enumerate(sections, start=1):
        if not name.startswith(b".pdata$") or not flags & COMDAT or index in defined or nrelocs == 0:
            continue
        target = struct.unpack_from("<I", data, relocs + 4)[0]
        parent = symbols[target] if target < len(symbols) else None
        if not parent or parent <= 0:
            raise SystemExit(f"mend-unwind-tables: {name.decode()} describes no section of its object")
        added += symbol_name + struct.pack("<IhHBB", 0, index, 0, STATIC, 1)
        added += struct.pack("<IHHIHB3x", size, nrelocs, 0, 0, parent, ASSOCIATIVE)
    if not added:
        return data, 0
    count = len(added) // (2 * SYMBOL)
    header = bytearray(data[:20])
    struct.pack_into("<I", header, 12, nsymbols + 2 * count)
    return bytes(header) + data[20:strings_at] + added + strings, count


def mend_archive(data):
    if not data.startswith(b"!<arch>\n"):
        raise SystemExit("mend-unwind-tables: not an ar archive")
    out = [b"!<arch>\n"]
    mended = 0
    at = 8
    while at < len(data):
        header = data[at:at + 60]
        name = header[:16].rstrip()
        size = int(header[48:58])
        body = data[at + 60:at + 60 + size]
        at += 60 + size + (size & 1)
        if name == b"/":
            continue  # the index, written anew below
        if name != b"//":  # the long member names
            body, count = mend_object(body)
            mended += count
        out.append(header[:48] + str(len(body)).encode().ljust(10) + header[58:60])
        out.append(body + (b"\n" if len(body) & 1 else b""))
    return b"".join(out), mended


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__.strip().splitlines()[2])
    source, target = sys.argv[1:]
    with open(source, "rb") as f:
        data, mended = mend_archive(f.read())
    with open(target, "wb") as f:
        f.write(data)
    subprocess.run(["llvm-ranlib-16", target], check=True)
    print(mended)


if __name__ == "__main__":
    main()
