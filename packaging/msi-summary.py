#!/usr/bin/env python3
"""Usage: msi-summary.py FILE.msi [--show]

Makes an MSI that wixl wrote reproducible by rewriting, in place and at the same length, the
three fields of its SummaryInformation stream that wixl fills from the clock and the random
generator (it ignores SOURCE_DATE_EPOCH):
  - the times (created, last saved, last printed, whichever are there) become SOURCE_DATE_EPOCH;
  - the package code (the revision number) becomes a name-based UUID of the file's content,
    the package code itself left out, so that different packages keep different codes.
Every other byte of the file is left as it is. With --show it prints the fields and changes
nothing. Needs only Python's standard library.

An MSI is a compound file (MS-CFB): a FAT-like chain of sectors; streams under 4096 bytes, the
summary among them, live in 64-byte mini sectors inside the root entry's stream. The summary is
a property set (MS-OLEPS) with one section of (identifier, offset) pairs.
"""
import datetime
import hashlib
import os
import struct
import sys
import uuid

PID_REVNUMBER = 9  # the package code, "{GUID}"
PID_TIMES = {11: "last printed", 12: "created", 13: "last saved"}
VT_I2 = 2
VT_I4 = 3
VT_LPSTR = 30
VT_FILETIME = 64
# Seconds from the FILETIME epoch (1601-01-01) to the Unix epoch.
FILETIME_UNIX = 11644473600
# The namespace of the package codes that this script derives.
PACKAGE_CODE_NAMESPACE = uuid.UUID("8DD5CDCF-FAD0-4799-BE19-8D9D3E640F52")
SUMMARY = "\x05SummaryInformation"
END_OF_CHAIN = 0xFFFFFFFE


class CompoundFile:
    def __init__(self, data):
        if data[:8] != bytes.fromhex("D0CF11E0A1B11AE1"):
            sys.exit("msi-summary: not a compound file")
        self.data = data
        self.sector_size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini_size = 1 << struct.unpack_from("<H", data, 0x20)[0]
        (first_dir, _, self.mini_cutoff, first_minifat, _, first_difat,
         difat_count) = struct.unpack_from("<7I", data, 0x30)
        # The FAT's sectors: 109 in the header, the rest in the DIFAT chain.
        fat_sectors = list(struct.unpack_from("<109I", data, 0x4C))
        per_sector = self.sector_size // 4
        sector = first_difat
        for _ in range(difat_count):
            entries = struct.unpack_from("<%dI" % per_sector, data, self.offset(sector))
            fat_sectors.extend(entries[:-1])
            sector = entries[-1]
        self.fat = []
        for s in fat_sectors:
            if s < 0xFFFFFFFA:
                self.fat.extend(struct.unpack_from("<%dI" % per_sector, data, self.offset(s)))
        self.minifat = []
        for s in self.chain(first_minifat):
            self.minifat.extend(struct.unpack_from("<%dI" % per_sector, data, self.offset(s)))
        self.entries = []
        for s in self.chain(first_dir):
            for at in range(self.offset(s), self.offset(s) + self.sector_size, 128):
                name_length, kind = struct.unpack_from("<HB", data, at + 64)
                name = data[at:at + max(name_length - 2, 0)].decode("utf-16-le")
                start, size = struct.unpack_from("<IQ", data, at + 116)
                if self.sector_size == 512:
                    size &= 0xFFFFFFFF  # version 3 files keep only 32 bits of it
                self.entries.append((name, kind, start, size))
        # The root entry's stream holds the mini sectors.
        _, _, root_start, _ = self.entries[0]
        self.mini_stream = list(self.chain(root_start))

    def offset(self, sector):
        return (sector + 1) * self.sector_size

    def chain(self, sector, fat=None):
        fat = self.fat if fat is None else fat
        seen = set()
        while sector != END_OF_CHAIN:
            if sector in seen or sector >= len(fat):
                sys.exit("msi-summary: a broken sector chain")
            seen.add(sector)
            yield sector
            sector = fat[sector]

    def stream_offsets(self, name):
        """The file offset of each byte of the stream NAME, in order."""
        for entry_name, kind, start, size in self.entries:
            if entry_name == name and kind == 2:
                break
        else:
            sys.exit("msi-summary: no stream %r" % name)
        offsets = []
        if size < self.mini_cutoff:
            for m in self.chain(start, self.minifat):
                big, within = divmod(m * self.mini_size, self.sector_size)
                at = self.offset(self.mini_stream[big]) + within
                offsets.extend(range(at, at + self.mini_size))
        else:
            for s in self.chain(start):
                at = self.offset(s)
                offsets.extend(range(at, at + self.sector_size))
        if len(offsets) < size:
            sys.exit("msi-summary: stream %r is cut short" % name)
        return offsets[:size]


def summary_fields(data, offsets):
    """{property id: (type, first stream offset of the value, its length)} for the fields."""
    stream = bytes(data[o] for o in offsets)
    byte_order, = struct.unpack_from("<H", stream, 0)
    if byte_order != 0xFFFE:
        sys.exit("msi-summary: not a property set")
    section = struct.unpack_from("<I", stream, 44)[0]
    _, count = struct.unpack_from("<II", stream, section)
    fields = {}
    for i in range(count):
        pid, at = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        at += section
        vt, = struct.unpack_from("<I", stream, at)
        if vt == VT_LPSTR:
            length, = struct.unpack_from("<I", stream, at + 4)
            fields[pid] = (vt, at + 8, length)
        elif vt == VT_FILETIME:
            fields[pid] = (vt, at + 4, 8)
        else:
            fields[pid] = (vt, at + 4, None)
    return stream, fields


def main():
    args = sys.argv[1:]
    show = "--show" in args
    args = [a for a in args if a != "--show"]
    if len(args) != 1:
        sys.exit(__doc__.split("\n\n")[0])
    path = args[0]
    with open(path, "rb") as f:
        data = bytearray(f.read())
    offsets = CompoundFile(data).stream_offsets(SUMMARY)
    stream, fields = summary_fields(data, offsets)

    def value(pid):
        vt, at, length = fields[pid]
        if vt == VT_LPSTR:
            return stream[at:at + length].rstrip(b"\0").decode("latin-1")
        if vt == VT_FILETIME:
            ticks, = struct.unpack_from("<Q", stream, at)
            seconds = ticks / 10**7 - FILETIME_UNIX
            return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).isoformat()
        if vt == VT_I2:
            return str(struct.unpack_from("<h", stream, at)[0])
        if vt == VT_I4:
            return str(struct.unpack_from("<i", stream, at)[0])
        return "(type %d)" % vt

    if show:
        for pid in sorted(fields):
            print("%2d %s" % (pid, value(pid)))
        return

    def write(at, content):
        for i, byte in enumerate(content):
            data[offsets[at + i]] = byte

    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch is None:
        sys.exit("msi-summary: SOURCE_DATE_EPOCH is not set")
    ticks = (int(epoch) + FILETIME_UNIX) * 10**7
    for pid in PID_TIMES:
        if pid in fields and fields[pid][0] == VT_FILETIME:
            write(fields[pid][1], struct.pack("<Q", ticks))
    if PID_REVNUMBER not in fields or fields[PID_REVNUMBER][0] != VT_LPSTR:
        sys.exit("msi-summary: no package code")
    _, at, length = fields[PID_REVNUMBER]
    old = stream[at:at + length]
    code = ("{%s}" % uuid.UUID(int=0)).upper().encode("ascii") + b"\0"
    if len(old) != len(code):
        sys.exit("msi-summary: the package code %r is not a braced GUID" % old)
    # The content with the package code blanked (to the nil UUID) names the new code.
    write(at, code)
    name = hashlib.sha256(data).hexdigest()
    code = ("{%s}" % uuid.uuid5(PACKAGE_CODE_NAMESPACE, name)).upper().encode("ascii") + b"\0"
    write(at, code)
    with open(path, "r+b") as f:
        f.write(data)


if __name__ == "__main__":
    main()
