"""A small reader of Windows PE executables: headers, imported DLLs and resources.

Standard library only. Used by check_exe.py and by the Wine tests (to see which package a
program carries).
"""
import struct

RT_VERSION = 16
RT_MANIFEST = 24


class PEError(Exception):
    pass


class PEFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PEError("no MZ header")
        (pe,) = struct.unpack_from("<I", data, 0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PEError("no PE signature")
        (self.machine, sections, _, _, _, optional_size, self.characteristics) = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        (self.magic,) = struct.unpack_from("<H", data, optional)
        if self.magic == 0x10B:      # PE32
            directories = optional + 96
        elif self.magic == 0x20B:    # PE32+
            directories = optional + 112
        else:
            raise PEError("unknown optional header magic %#x" % self.magic)
        (self.subsystem,) = struct.unpack_from("<H", data, optional + 68)
        (count,) = struct.unpack_from("<I", data, directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(min(count, 16))]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0"), vaddr, max(vsize, rsize), raddr, rsize))

    def offset(self, rva):
        """File offset of a relative virtual address."""
        for _, vaddr, vsize, raddr, rsize in self.sections:
            if vaddr <= rva < vaddr + vsize:
                if rva - vaddr >= rsize:
                    raise PEError("rva %#x lies in uninitialised data" % rva)
                return raddr + rva - vaddr
        raise PEError("rva %#x outside every section" % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)]

    def imported_dlls(self):
        """The DLL names of the import directory, as written in the file."""
        rva, size = self.directories[1] if len(self.directories) > 1 else (0, 0)
        names = []
        if not rva:
            return names
        position = self.offset(rva)
        while True:
            descriptor = struct.unpack_from("<IIIII", self.data, position)
            if descriptor == (0, 0, 0, 0, 0):
                return names
            names.append(self.cstring(descriptor[3]).decode("ascii"))
            position += 20

    def _resource_root(self):
        rva, _ = self.directories[2] if len(self.directories) > 2 else (0, 0)
        return (self.offset(rva), rva) if rva else (None, None)

    def _directory(self, base, offset):
        """[(key, is_directory, offset)] of one resource directory; key is an int or a str."""
        named, ids = struct.unpack_from("<HH", self.data, base + offset + 12)
        result = []
        for i in range(named + ids):
            key, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
            if key & 0x80000000:
                at = base + (key & 0x7FFFFFFF)
                (length,) = struct.unpack_from("<H", self.data, at)
                key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            result.append((key, bool(target & 0x80000000), target & 0x7FFFFFFF))
        return result

    def resources(self):
        """{(type, name, language): bytes}; type and name are ints or upper-case strings."""
        base, _ = self._resource_root()
        found = {}
        if base is None:
            return found
        for rtype, _, types in self._directory(base, 0):
            for name, _, names in self._directory(base, types):
                for language, _, leaf in self._directory(base, names):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(rva)
                    found[(rtype, name, language)] = self.data[start:start + size]
        return found


def read(path):
    with open(path, "rb") as f:
        return PEFile(f.read())
