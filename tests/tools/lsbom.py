#!/usr/bin/env python3
"""List the paths of a bill of materials (.bom), one per line.

A second reader, kept apart from the C++ one on purpose, so that the tests can
compare two listings. It resolves each entry's chain of names up to the root
and sorts the entries by those chains, which gives the same order as a depth
first walk with each folder's children in bytewise order of their names.

Paths are printed relative to the install folder, without the leading "./"
and without the root "." itself, as raw bytes followed by a newline.

Usage: lsbom.py FILE
Exit status 0 on success, 1 with a message on stderr when the bill cannot be
read. Standard library only.
"""

import struct
import sys


class BomError(Exception):
    pass


class Bom:
    def __init__(self, raw):
        self.raw = raw
        if raw[:8] != b"BOMStore":
            raise BomError("no BOMStore magic")
        (self.version, _, table_at, table_len, vars_at, vars_len) = self.unpack(">6I", 8)
        if self.version != 1:
            raise BomError("version %d" % self.version)
        self.check(table_at, table_len, "block table")
        self.check(vars_at, vars_len, "variables")
        (slots,) = self.unpack(">I", table_at)
        if 4 + 8 * slots > table_len:
            raise BomError("block table too small for %d slots" % slots)
        flat = self.unpack(">%dI" % (2 * slots), table_at + 4)
        self.blocks = list(zip(flat[0::2], flat[1::2]))
        self.variables = self.read_variables(vars_at, vars_len)

    def unpack(self, fmt, at):
        size = struct.calcsize(fmt)
        if at < 0 or at + size > len(self.raw):
            raise BomError("read of %d bytes at %d is past the end" % (size, at))
        return struct.unpack_from(fmt, self.raw, at)

    def check(self, at, length, what):
        if at + length > len(self.raw):
            raise BomError("%s at %d+%d is outside the file" % (what, at, length))

    def block(self, number):
        if number == 0 or number >= len(self.blocks):
            raise BomError("no block %d" % number)
        at, length = self.blocks[number]
        self.check(at, length, "block %d" % number)
        return self.raw[at:at + length]

    def read_variables(self, at, length):
        table = self.raw[at:at + length]
        (count,) = struct.unpack_from(">I", table, 0)
        found = {}
        pos = 4
        for _ in range(count):
            if pos + 5 > len(table):
                raise BomError("variables table is truncated")
            (number, name_len) = struct.unpack_from(">IB", table, pos)
            name = table[pos + 5:pos + 5 + name_len]
            if len(name) != name_len:
                raise BomError("variable name is truncated")
            found.setdefault(name.rstrip(b"\0"), number)
            pos += 5 + name_len
        return found

    def leaf_pairs(self, tree_block):
        """Yields (value block, key block) of every leaf, left to right."""
        head = self.block(tree_block)
        if len(head) < 21 or head[:4] != b"tree":
            raise BomError("not a tree")
        (node,) = struct.unpack_from(">I", head, 8)
        seen = set()
        # Down the leftmost edge.
        while True:
            if node in seen:
                raise BomError("index nodes loop")
            seen.add(node)
            data = self.block(node)
            if len(data) < 12:
                raise BomError("short node")
            (is_leaf,) = struct.unpack_from(">H", data, 0)
            if is_leaf:
                break
            if len(data) < 20:
                raise BomError("short index node")
            (node,) = struct.unpack_from(">I", data, 12)
        # Along the leaves.
        while True:
            (is_leaf, count, forward) = struct.unpack_from(">HHI", data, 0)
            if is_leaf != 1:
                raise BomError("forward link to a non-leaf")
            if 12 + 8 * count > len(data):
                raise BomError("leaf too short for its count")
            for i in range(count):
                yield struct.unpack_from(">II", data, 12 + 8 * i)
            if forward == 0:
                return
            if forward in seen:
                raise BomError("leaf links loop")
            seen.add(forward)
            data = self.block(forward)
            if len(data) < 12:
                raise BomError("short node")

    def listing(self):
        if b"Paths" not in self.variables:
            raise BomError("no Paths variable")
        by_id = {}
        order = []
        for position, (value_block, key_block) in enumerate(self.leaf_pairs(self.variables[b"Paths"])):
            value = self.block(value_block)
            key = self.block(key_block)
            if len(value) < 8 or len(key) < 5:
                raise BomError("short key or value")
            (path_id,) = struct.unpack_from(">I", value, 0)
            (parent,) = struct.unpack_from(">I", key, 0)
            name = key[4:].split(b"\0", 1)
            if len(name) < 2:
                raise BomError("name without NUL")
            entry = (parent, name[0], position)
            order.append(entry)
            if path_id in by_id:
                raise BomError("path id %d twice" % path_id)
            by_id[path_id] = entry

        # Each entry's chain of (name, position) from the top down; position
        # keeps two equal names of one folder in the file's order.
        chains = {}

        def chain(entry):
            found = []
            walked = set()
            cursor = entry
            while True:
                if id(cursor) in chains:
                    return chains[id(cursor)] + list(reversed(found))
                if id(cursor) in walked:
                    raise BomError("parent ids loop")
                walked.add(id(cursor))
                parent, name, position = cursor
                if parent == 0:
                    head = [] if name == b"." else [(name, position)]
                    return head + list(reversed(found))
                found.append((name, position))
                if parent not in by_id:
                    raise BomError("missing parent id %d" % parent)
                cursor = by_id[parent]

        keyed = []
        for entry in order:
            parts = chain(entry)
            chains[id(entry)] = parts
            if parts:
                keyed.append(parts)
        keyed.sort()
        return [b"/".join(name for name, _ in parts) for parts in keyed]


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: lsbom.py FILE\n")
        return 2
    try:
        with open(argv[1], "rb") as handle:
            bom = Bom(handle.read())
        lines = bom.listing()
    except (OSError, BomError, struct.error) as problem:
        sys.stderr.write("lsbom.py: %s: %s\n" % (argv[1], problem))
        return 1
    out = sys.stdout.buffer
    for line in lines:
        out.write(line + b"\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
