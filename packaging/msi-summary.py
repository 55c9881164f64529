#!/usr/bin/python3
"""Usage: msi-summary.py FILE.msi

Makes an MSI that wixl wrote reproducible by rewriting, in place and at the same length, the
fields of its SummaryInformation stream that wixl fills from the clock and the random generator
(it ignores SOURCE_DATE_EPOCH, and msitools has no tool that sets them):
  - the times (created, last saved, last printed, whichever are there) become SOURCE_DATE_EPOCH;
  - the package code (the revision number) becomes a name-based UUID of the file's content,
    the package code itself left out, so that different packages keep different codes.
Every other byte of the file is left as it is. `msiinfo suminfo FILE.msi` shows the fields.

olefile reads and writes the stream in the compound file; the stream itself is a property set
(MS-OLEPS) with one section of (identifier, offset) pairs, each offset to a typed value.
"""
import hashlib
import os
import struct
import sys
import uuid

import olefile

SUMMARY = "\x05SummaryInformation"
PID_REVNUMBER = 9  # the package code, "{GUID}"
PID_TIMES = (11, 12, 13)  # last printed, created, last saved
VT_LPSTR = 30
VT_FILETIME = 64
# Seconds from the FILETIME epoch (1601-01-01) to the Unix epoch.
FILETIME_UNIX = 11644473600
# The namespace of the package codes that this script derives.
PACKAGE_CODE_NAMESPACE = uuid.UUID("8DD5CDCF-FAD0-4799-BE19-8D9D3E640F52")


def fields(stream):
    """{property id: (type, offset of its value in the stream)} of the first section."""
    section, = struct.unpack_from("<I", stream, 44)
    _, count = struct.unpack_from("<II", stream, section)
    found = {}
    for i in range(count):
        pid, at = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        vt, = struct.unpack_from("<I", stream, section + at)
        found[pid] = (vt, section + at + 4)
    return found


def rewrite(path, change):
    """Applies `change` to the summary stream of the MSI at `path`, in place."""
    with olefile.OleFileIO(path, write_mode=True) as ole:
        stream = bytearray(ole.openstream(SUMMARY).read())
        change(stream)
        ole.write_stream(SUMMARY, bytes(stream))


def braced(code):
    return ("{%s}" % code).upper().encode("ascii") + b"\0"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.split("\n\n")[0])
    path = sys.argv[1]
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch is None:
        sys.exit("msi-summary: SOURCE_DATE_EPOCH is not set")
    ticks = struct.pack("<Q", (int(epoch) + FILETIME_UNIX) * 10**7)

    def code_at(stream):
        vt, at = fields(stream).get(PID_REVNUMBER, (None, 0))
        length = struct.unpack_from("<I", stream, at)[0] if vt == VT_LPSTR else 0
        if length != len(braced(uuid.UUID(int=0))):
            sys.exit("msi-summary: no package code as a braced GUID")
        return at + 4

    def set_times_and_blank_code(stream):
        for pid, (vt, at) in fields(stream).items():
            if pid in PID_TIMES and vt == VT_FILETIME:
                stream[at:at + 8] = ticks
        at = code_at(stream)
        stream[at:at + 39] = braced(uuid.UUID(int=0))

    # The content with the package code blanked (to the nil UUID) names the new code.
    rewrite(path, set_times_and_blank_code)
    with open(path, "rb") as f:
        name = hashlib.sha256(f.read()).hexdigest()
    code = braced(uuid.uuid5(PACKAGE_CODE_NAMESPACE, name))

    def set_code(stream):
        at = code_at(stream)
        stream[at:at + 39] = code

    rewrite(path, set_code)


if __name__ == "__main__":
    main()
