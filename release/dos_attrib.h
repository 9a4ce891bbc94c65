// The DOS attributes a release file carries on a Linux host: the extended attribute
// user.DOSATTRIB, in every form Wine and Samba write it, read without guessing.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

// No form of the value is longer: Samba's largest (version 2) has 52 bytes after its header.
const size_t LongestDosAttrib = 256;

// Decodes the bytes of a user.DOSATTRIB value: true with the attributes, or false with what the
// value holds and why it cannot be read, for a message that names the file.
//
// The forms, as Samba defines them (librpc/idl/xattr.idl, xattr_DOSATTRIB, and its hand-written
// NDR code in librpc/ndr/ndr_xattr.c):
//   text    "0x" and 1 to 8 hex digits, with or without a closing NUL (older Samba, this
//           packer's extract, setfattr -v '"0x21"'; Wine writes it with only the hidden and
//           system bits, and reports archive for every file); one line feed after the digits
//           is allowed.
//   binary  NDR, little-endian, each field aligned to its size from the start of the value:
//           a NUL-terminated ASCII string (the attributes in hex in versions 1 to 3, empty from
//           version 4 on); uint16 version at the next even offset; the union's own uint16
//           discriminant, equal to the version, at the next even offset; from the next multiple
//           of four the version's structure, uint32 fields then 64-bit ones (udlong, NTTIME: two
//           uint32, aligned to four):
//             1  xattr_DosInfo1     attrib, ea_size, size, alloc_size, create_time, change_time
//             2  xattr_DosInfo2Old  flags, attrib, ea_size, size, alloc_size, create_time,
//                                   change_time, write_time, then a name that is not read
//             3  xattr_DosInfo3     valid_flags, attrib, ea_size, size, alloc_size,
//                                   create_time, change_time
//             4  xattr_DosInfo4     valid_flags, attrib, itime, create_time
//             5  xattr_DosInfo5     valid_flags, attrib, create_time
//           The attributes are `attrib` whatever valid_flags says, as Samba reads them; bytes
//           after the structure are ignored, as Samba ignores them.
// Anything else is refused: other bytes (setfattr -v 0x21 stores the single byte 0x21), a
// version Samba does not define, discriminant and version that differ, a structure cut short.
bool DecodeDosAttrib(const unsigned char* value, size_t size, uint32_t* attributes,
                     std::string* why);
