"""The version resource (VERSIONINFO) of a Windows executable, read on Linux.

Only what publishing needs: the machine the program is built for, the
fixed file version and the strings of the first string table.
"""
import struct

RT_VERSION = 16
MACHINES = {0x14C: "i386", 0x8664: "x86-64"}


class PeError(Exception):
    pass


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise PeError("not a Windows executable (no MZ header)")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("not a Windows executable (no PE header)")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        self.machine = MACHINES.get(machine, "0x%04x" % machine)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, vsize, rva, raw_size, raw_at = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((rva, max(vsize, raw_size), raw_at))

    def offset(self, rva):
        for start, size, raw_at in self.sections:
            if start <= rva < start + size:
                return raw_at + rva - start
        raise PeError("resource address 0x%x lies in no section" % rva)

    def resource(self, type_id):
        """The data of the first resource of a type, or None."""
        if not self.resource_rva:
            return None
        base = self.offset(self.resource_rva)

        def first_entry(directory, wanted=None):
            named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
                if wanted is None or name == wanted:
                    return target
            return None

        level = base
        for wanted in (type_id, None, None):
            target = first_entry(level, wanted)
            if target is None:
                return None
            level = base + (target & 0x7FFFFFFF)
            if not target & 0x80000000:
                break
        rva, size = struct.unpack_from("<II", self.data, level)
        at = self.offset(rva)
        return self.data[at:at + size]


def _align(n):
    return (n + 3) & ~3


def _blocks(data, start, end):
    """The child blocks of a version block: (key, value bytes, value is text, children span)."""
    at = start
    while at + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = _align(key_end + 2)
        value_bytes = value_length * 2 if kind == 1 else value_length
        yield key, data[value_at:value_at + value_bytes], kind == 1, \
            (_align(value_at + value_bytes), at + length)
        at = _align(at + length)


def read_version_info(path):
    with open(path, "rb") as f:
        return read_version_info_bytes(f.read())


def read_version_info_bytes(data):
    """{"machine", "file_version" (a.b.c.d), "strings": {name: text}}."""
    try:
        return _version_info(PeImage(data))
    except (struct.error, UnicodeDecodeError, IndexError):
        raise PeError("damaged executable or version resource")


def _version_info(image):
    block = image.resource(RT_VERSION)
    if block is None:
        raise PeError("no version resource (VERSIONINFO)")
    result = {"machine": image.machine, "strings": {}, "file_version": None}
    for key, value, _, (child_start, child_end) in _blocks(block, 0, len(block)):
        if key != "VS_VERSION_INFO":
            raise PeError("damaged version resource")
        if len(value) >= 52 and struct.unpack_from("<I", value)[0] == 0xFEEF04BD:
            ms, ls = struct.unpack_from("<II", value, 8)
            result["file_version"] = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        for child, _, _, (table_start, table_end) in _blocks(block, child_start, child_end):
            if child != "StringFileInfo":
                continue
            for _, _, _, (strings_start, strings_end) in _blocks(block, table_start, table_end):
                for name, text, _, _ in _blocks(block, strings_start, strings_end):
                    result["strings"][name] = text.decode("utf-16-le").rstrip("\0")
                break
        break
    return result
