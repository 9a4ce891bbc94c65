#!/usr/bin/env python3
"""The security review of the shipped Windows executables, made on the files themselves.

    review_exe.py --machine i386|x86_64 [--signed FILE] EXE...

Each check stands for the BinSkim rule it is named after and fails the way that rule fails;
the README's table says which rules apply to a MinGW build and which cannot be met with it.
`--signed FILE` (repeatable) says that FILE must carry an Authenticode signature. Prints one
line per rule and file; exit 1 on any failure.

Reads the PE with pefile (Debian's python3-pefile).
"""
import argparse
import re
import sys

import pefile

DYNAMIC_BASE, NX_COMPAT, NO_SEH, HIGH_ENTROPY_VA = 0x40, 0x100, 0x400, 0x20
RELOCS_STRIPPED, LARGE_ADDRESS_AWARE = 0x1, 0x20
MEM_SHARED, MEM_EXECUTE, MEM_WRITE = 0x10000000, 0x20000000, 0x80000000
# The DLLs Windows 7 and later load from its KnownDLLs list (never from the program's folder)
# that a program of ours may import; ntdll is always loaded first. comctl32 is not among them:
# imported statically, it would be looked for beside the program before WinMain runs.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "comdlg32.dll",
              "advapi32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll",
              "ntdll.dll"}
# An x86 image registers an SEH handler by storing into fs:[0], the head of the thread's
# handler chain: mov fs:[0], eax; mov fs:[0], r32 (disp32 form); pop dword fs:[0].
SEH_REGISTRATION = re.compile(rb"\x64(?:\xA3|\x89[\x05\x0D\x15\x1D\x25\x2D\x35\x3D]|\x8F\x05)"
                              rb"\x00\x00\x00\x00")
# Digest algorithms in a signature: SHA-256 wanted, SHA-1 and MD5 refused (DER-encoded OIDs).
SHA256_OID = bytes.fromhex("0609608648016503040201")
WEAK_DIGEST_OIDS = {"SHA-1": bytes.fromhex("06052B0E03021A"),
                    "MD5": bytes.fromhex("06082A864886F70D0205")}


def name(section):
    return section.Name.rstrip(b"\0").decode(errors="replace")


def aslr(exe, machine):
    found = []
    if not exe.OPTIONAL_HEADER.DllCharacteristics & DYNAMIC_BASE:
        found.append("not marked DYNAMIC_BASE")
    base_relocs = exe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY[
        "IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if exe.FILE_HEADER.Characteristics & RELOCS_STRIPPED or base_relocs.Size == 0:
        found.append("its relocations are stripped: the system cannot move it")
    return found


def nx(exe, machine):
    return [] if exe.OPTIONAL_HEADER.DllCharacteristics & NX_COMPAT else ["not marked NX_COMPAT"]


def high_entropy(exe, machine):
    if machine != "x86_64":
        return None
    found = []
    if not exe.OPTIONAL_HEADER.DllCharacteristics & HIGH_ENTROPY_VA:
        found.append("not marked HIGH_ENTROPY_VA")
    if not exe.FILE_HEADER.Characteristics & LARGE_ADDRESS_AWARE:
        found.append("not LARGE_ADDRESS_AWARE")
    return found


def base_above_4gb(exe, machine):
    if machine != "x86_64":
        return None
    base = exe.OPTIONAL_HEADER.ImageBase
    return [] if base >= 1 << 32 else ["preferred base %#x is below 4 GB" % base]


def safe_seh(exe, machine):
    """x86 only: x64 handlers are found through the image's own tables (.pdata), never through
    a chain kept on the stack, so there is nothing there to overwrite."""
    if machine != "i386":
        return None
    config = getattr(exe, "DIRECTORY_ENTRY_LOAD_CONFIG", None)
    if config is not None and getattr(config.struct, "SEHandlerCount", 0):
        return []
    if not exe.OPTIONAL_HEADER.DllCharacteristics & NO_SEH:
        return ["neither a SafeSEH table nor NO_SEH"]
    # NO_SEH makes the system refuse every handler in this image: true only if none is set.
    found = []
    for section in exe.sections:
        if section.Characteristics & MEM_EXECUTE:
            for match in SEH_REGISTRATION.finditer(section.get_data()):
                found.append("marked NO_SEH, but %s+%#x stores into fs:[0] (registers a handler)"
                             % (name(section), match.start()))
    return found


def writable_executable(exe, machine):
    return ["section %s is writable and executable" % name(s) for s in exe.sections
            if s.Characteristics & MEM_WRITE and s.Characteristics & MEM_EXECUTE]


def writable_shared(exe, machine):
    return ["section %s is writable and shared" % name(s) for s in exe.sections
            if s.Characteristics & MEM_WRITE and s.Characteristics & MEM_SHARED]


def imports_not_executable(exe, machine):
    directory = exe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY[
        "IMAGE_DIRECTORY_ENTRY_IMPORT"]]
    section = exe.get_section_by_rva(directory.VirtualAddress) if directory.Size else None
    if section is not None and section.Characteristics & MEM_EXECUTE:
        return ["the imports are in the executable section " + name(section)]
    return []


def known_dlls(exe, machine):
    dlls = [e.dll.decode() for e in getattr(exe, "DIRECTORY_ENTRY_IMPORT", [])]
    delayed = getattr(exe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    dlls += [e.dll.decode() + " (delayed)" for e in delayed]
    return ["imports from %s, which is not a known DLL: it can be planted beside the program" % d
            for d in dlls if d.split(" ")[0].lower() not in KNOWN_DLLS]


def signed(exe, machine):
    directory = exe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY[
        "IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    if directory.Size == 0:
        return ["carries no signature"]
    # The directory's address is a file offset; WIN_CERTIFICATE: length, revision, type.
    blob = exe.__data__[directory.VirtualAddress:directory.VirtualAddress + directory.Size]
    length, revision, kind = int.from_bytes(blob[0:4], "little"), blob[4:6], blob[6:8]
    if revision != b"\x00\x02" or kind != b"\x02\x00" or length > len(blob):
        return ["the certificate table holds no PKCS#7 signature"]
    found = [] if SHA256_OID in blob[8:length] else ["the signature has no SHA-256 digest"]
    found += ["the signature uses %s" % n for n, oid in WEAK_DIGEST_OIDS.items()
              if oid in blob[8:length]]
    return found


# (rule, check); a check answers None where its rule does not apply to the machine.
RULES = [
    ("BA2009.EnableAddressSpaceLayoutRandomization", aslr),
    ("BA2016.MarkImageAsNXCompatible", nx),
    ("BA2015.EnableHighEntropyVirtualAddresses", high_entropy),
    ("BA2001.LoadImageAboveFourGigabyteAddress", base_above_4gb),
    ("BA2018.EnableSafeSEH", safe_seh),
    ("BA2021.DoNotMarkWritableSectionsAsExecutable", writable_executable),
    ("BA2019.DoNotMarkWritableSectionsAsShared", writable_shared),
    ("BA2010.DoNotMarkImportsSectionAsExecutable", imports_not_executable),
    # No BinSkim rule: DLL planting (CWE-427) of a DLL loaded before WinMain.
    ("KnownDllImportsOnly", known_dlls),
]
SIGNING_RULE = ("BA2022.SignSecurely", signed)


def review(path, machine, must_be_signed):
    """[(rule, problems or None)] for one file."""
    try:
        exe = pefile.PE(path)
    except (OSError, pefile.PEFormatError) as error:
        return [("readable PE", ["cannot be read: %s" % error])]
    rules = RULES + ([SIGNING_RULE] if must_be_signed else [])
    return [(rule, check(exe, machine)) for rule, check in rules]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--machine", choices=["i386", "x86_64"], required=True)
    parser.add_argument("--signed", action="append", default=[])
    parser.add_argument("exe", nargs="+")
    args = parser.parse_args()
    failed = False
    for path in args.exe:
        for rule, problems in review(path, args.machine, path in args.signed):
            if problems is None:
                print("n/a  %s %s" % (rule, path))
            elif problems:
                failed = True
                for problem in problems:
                    print("FAIL %s %s: %s" % (rule, path, problem))
            else:
                print("pass %s %s" % (rule, path))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
