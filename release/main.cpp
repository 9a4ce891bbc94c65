// zarpo-pack: the release engineer's tool. It makes the update package from a release folder
// and a manifest, writes the manifest of a folder, lists, verifies and extracts a package, and
// compares two releases. This file only dispatches; each subcommand is a file of its own
// (cmd/).
#include <stdio.h>

#include <exception>
#include <string>
#include <vector>

#include "app/dll_search.h"
#include "release/cmd/commands.h"
#include "release/options.h"
#include "release/system.h"

static const char Usage[] =
    "usage:\n"
    "  zarpo-pack pack --root DIR --manifest FILE --output FILE [--exact-times] [--subset]\n"
    "  zarpo-pack scan --root DIR [--output FILE] [--keep-going]\n"
    "  zarpo-pack list FILE\n"
    "  zarpo-pack verify FILE\n"
    "  zarpo-pack extract FILE --output DIR\n"
    "  zarpo-pack diff OLD NEW\n"
    "  zarpo-pack newest-time FILE\n"
    "  zarpo-pack stamp --stub IN.exe --package FILE --version x.y.z --output OUT.exe\n"
    "  zarpo-pack --help | --version\n"
    "\n"
    "FILE, OLD and NEW are package files or built updaters (ZarpoUpdate.exe, PE32 or PE32+),\n"
    "whose ZIPFILE/UPDATE resource is read. Paths may hold any character the system allows;\n"
    "manifests are UTF-8.\n"
    "\n"
    "pack    writes the package of the files the manifest names, read from DIR, in manifest\n"
    "        order, compressed at zlib level 9; reads it back and compares before it replaces\n"
    "        FILE. The same input always gives the same bytes. Every problem of the manifest\n"
    "        is reported at once (up to 20), as FILE:LINE: message.\n"
    "scan    writes a manifest of every file below DIR (standard output without --output):\n"
    "        the files of a folder before its sub-folders, each in byte order of the code\n"
    "        page 932 names; the last-write time brought down to an even second. Files that\n"
    "        cannot be packed are named on standard error and left out, among them every name\n"
    "        code page 932 cannot spell exactly. Attributes: on Windows the file's own; on Linux\n"
    "        from user.DOSATTRIB where a file has it, taken as it stands (the text 0x27 of\n"
    "        older Samba, or Samba's binary forms, versions 1 to 5; Wine keeps only hidden and\n"
    "        system there and reports archive for every file), else 0x20 and read-only from\n"
    "        the mode. A user.DOSATTRIB that cannot be read is named there too, and nothing is\n"
    "        written (exit 1); --keep-going writes the manifest with 0x20 and read-only from\n"
    "        the mode for those files.\n"
    "list    prints each entry: attributes, last-write time (UTC), size, name; for an updater\n"
    "        first its version and the SHA-256 of the package it carries.\n"
    "verify  prints \"good\", or the reason the updater would refuse the package or one of its\n"
    "        entries would go wrong on a key disk (exit 1): the checks pack makes on a manifest.\n"
    "extract writes every entry below DIR (new or empty) with its last-write time and its\n"
    "        attributes (on Linux in user.DOSATTRIB and read-only in the mode), as scan reads\n"
    "        them back.\n"
    "diff    lists the entries NEW adds, removes and changes against OLD, and flags each one\n"
    "        whose contents changed while size, attributes and DOS time stayed the same\n"
    "        (NEVER DELIVERED: the updater takes such a file on a key disk that holds OLD for\n"
    "        up to date, so the new contents never arrive), and each removed one that is not on\n"
    "        the updater's obsolete list (STAYS ON KEY DISKS: the updater deletes no other\n"
    "        file). Exit 1 when there is such an entry; 0 otherwise; 2 on errors.\n"
    "newest-time prints the newest last-write time of the entries in seconds since 1970 UTC:\n"
    "        the signing time of a build that carries the package.\n"
    "stamp   writes OUT.exe: the updater IN.exe (built with or without a package) carrying\n"
    "        FILE's package as its ZIPFILE/UPDATE resource, and its version resource naming\n"
    "        version x.y.z and the package's SHA-256, the rest kept; as the build would make\n"
    "        it, the same input always giving the same bytes. The package is refused as verify\n"
    "        refuses it. OUT.exe is made next to itself, read back and compared before it is\n"
    "        replaced; sign it afterwards. Windows only (zarpo-pack.exe): on Linux the build\n"
    "        embeds the package when it links the updater:\n"
    "          cmake --preset win32 -DZARPO_PACKAGE=FILE -DZARPO_RELEASE_VERSION=x.y.z\n"
    "\n"
    "Manifest: UTF-8 text, one entry per line, in the order the package stores them:\n"
    "    ATTRIBUTES  NAME  [TIME]\n"
    "  ATTRIBUTES  0x and 1 to 8 hex digits: FILE_ATTRIBUTE_* bits a file can have (within\n"
    "              0x31A7; not the directory bit 0x10); not 0x0 or 0x80, which read back as 0x20\n"
    "  NAME        the stored name, levels separated by backslashes (Sample\\Folder\\File.dwg);\n"
    "              spaces inside are kept; the file is DIR/Sample/Folder/File.dwg\n"
    "  TIME        last-write time, UTC: YYYY-MM-DDThh:mm:ss[.fffffff]Z, 1980 to 2107\n"
    "              (default: the file's own modification time); the last word of a line\n"
    "              is taken as its time when it begins YYYY-MM-DDT\n"
    "  Fields are separated by spaces or tabs. Blank lines and lines beginning with # are\n"
    "  skipped. A name must be representable in code page 932 in at most 250 bytes, must be\n"
    "  relative (no leading backslash, no drive, no colon), must not have empty, \".\" or \"..\"\n"
    "  levels, levels ending in a dot or space, slashes, control characters or < > \" | ? *,\n"
    "  levels that are Windows devices (NUL, CON, COM1.txt, ...) or shaped like short 8.3\n"
    "  aliases (ZARPOC~1.DLL), must not be on the updater's obsolete list, and must not repeat\n"
    "  an earlier name or folder (case ignored as Windows ignores it). Such lines are refused\n"
    "  with their line number, and nothing is written. Files below DIR that no line names are\n"
    "  listed as warnings (--subset: the manifest names only some of them on purpose).\n"
    "\n"
    "Times are brought down to a whole even second (a FAT key disk keeps two-second steps), so\n"
    "a written file compares equal on the next run; --exact-times keeps them to 100 ns.\n";

struct Command {
  const char* Name;
  int (*Run)(const std::vector<std::string>& args);
};

static const Command Commands[] = {
    {"pack", CmdPack},
    {"scan", CmdScan},
    {"list", CmdList},
    {"verify", CmdVerify},
    {"extract", CmdExtract},
    {"diff", CmdDiff},
    {"newest-time", CmdNewestTime},
    {"stamp", CmdStamp},
};

int main(int argc, char** argv) {
  // zarpo-pack.exe is downloaded and run like the updater: no DLL it loads by name may come
  // from its own folder.
  RestrictDllSearch();
  std::vector<std::string> args = ProgramArguments(argc, argv);
  if (args.empty()) return UsageError("no command");
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      fputs(Usage, stdout);
      return 0;
    }
  }
  // Only as the first word: stamp's --version names the release.
  if (args[0] == "--version") {
    printf("zarpo-pack %s\n", ZARPO_VERSION);
    return 0;
  }
  try {
    for (const Command& command : Commands) {
      if (args[0] == command.Name) return command.Run({args.begin() + 1, args.end()});
    }
    return UsageError("unknown command '" + args[0] + "'");
  } catch (const std::exception& failure) {
    fprintf(stderr, "zarpo-pack: %s\n", failure.what());
    return 1;
  }
}
