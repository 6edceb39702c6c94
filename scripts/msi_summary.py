#!/usr/bin/env python3
"""Sets an MSI's package code and dates, in place, so that a build gives the same bytes
twice: wixl writes a random package code and the clock's time into the summary
information, and nothing else of the package depends on the build's moment.

  msi_summary.py PACKAGE.msi {GUID} UNIX-SECONDS

The package is an OLE compound file; the summary information is a property set stream
("\\x05SummaryInformation"), read through the file's allocation tables and rewritten
where its bytes lie. Fails when the package is not laid out as expected.
"""

import struct
import sys

ENDOFCHAIN = 0xFFFFFFFE
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64


def chain(table, start):
    sectors = []
    while start != ENDOFCHAIN:
        if start >= len(table) or len(sectors) > len(table):
            raise ValueError("broken sector chain")
        sectors.append(start)
        start = table[start]
    return sectors


def stream_offsets(data):
    """File offsets of each byte of the summary information stream."""
    if data[:8] != b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1":
        raise ValueError("not a compound file")
    sector_size = 1 << struct.unpack_from("<H", data, 30)[0]
    mini_size = 1 << struct.unpack_from("<H", data, 32)[0]
    directory_start, = struct.unpack_from("<I", data, 48)
    cutoff, minifat_start, minifat_count, difat_start, difat_count = struct.unpack_from("<IIIII", data, 56)
    fat_sectors = [s for s in struct.unpack_from("<109I", data, 76) if s < 0xFFFFFFFA]
    while difat_count:
        entries = struct.unpack_from("<%dI" % (sector_size // 4), data, (difat_start + 1) * sector_size)
        fat_sectors += [s for s in entries[:-1] if s < 0xFFFFFFFA]
        difat_start, difat_count = entries[-1], difat_count - 1

    def sector(n):
        return (n + 1) * sector_size

    fat = []
    for s in fat_sectors:
        fat += struct.unpack_from("<%dI" % (sector_size // 4), data, sector(s))
    directory = b"".join(data[sector(s):sector(s) + sector_size] for s in chain(fat, directory_start))
    entries = [directory[i:i + 128] for i in range(0, len(directory), 128)]

    def entry(name):
        for e in entries:
            length, = struct.unpack_from("<H", e, 64)
            if e[:max(length - 2, 0)].decode("utf-16-le", "replace") == name:
                start, size = struct.unpack_from("<IQ", e, 116)
                return start, size & 0xFFFFFFFF
        raise ValueError("no stream %r" % name)

    start, size = entry("\x05SummaryInformation")
    if size >= cutoff:
        return [sector(s) + i for s in chain(fat, start) for i in range(sector_size)][:size]
    minifat = []
    for s in chain(fat, minifat_start)[:minifat_count]:
        minifat += struct.unpack_from("<%dI" % (sector_size // 4), data, sector(s))
    root_start, _ = struct.unpack_from("<IQ", entries[0], 116)
    mini_stream = [sector(s) + i for s in chain(fat, root_start) for i in range(sector_size)]
    return [mini_stream[m * mini_size + i] for m in chain(minifat, start) for i in range(mini_size)][:size]


def main():
    path, guid, seconds = sys.argv[1], sys.argv[2].upper(), int(sys.argv[3])
    if len(guid) != 38 or guid[0] != "{" or guid[-1] != "}":
        raise SystemExit("msi_summary: the package code is a {GUID}")
    with open(path, "rb") as f:
        data = bytearray(f.read())
    offsets = stream_offsets(data)
    stream = bytes(data[o] for o in offsets)
    section, = struct.unpack_from("<I", stream, 44)  # the one section's offset
    count, = struct.unpack_from("<I", stream, section + 4)
    values = {}
    for i in range(count):
        pid, where = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        values[pid] = section + where
    filetime = struct.pack("<Q", (seconds + 11644473600) * 10000000)
    patches = []
    for pid, value in ((PID_CREATE_DTM, filetime), (PID_LASTSAVE_DTM, filetime)):
        at = values[pid]
        if struct.unpack_from("<I", stream, at)[0] != VT_FILETIME:
            raise SystemExit("msi_summary: property %d is not a date" % pid)
        patches.append((at + 4, value))
    at = values[PID_REVNUMBER]
    kind, length = struct.unpack_from("<II", stream, at)
    if kind != VT_LPSTR or length != 39:  # 38 characters and the terminating NUL
        raise SystemExit("msi_summary: the package code is not where it should be")
    patches.append((at + 8, guid.encode("ascii")))
    for at, value in patches:
        for i, byte in enumerate(value):
            data[offsets[at + i]] = byte
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
