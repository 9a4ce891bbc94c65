// Scans the drive letters for the key disk. A letter qualifies when its drive is removable,
// holds a medium (its volume information can be read) and has the product folder at its root;
// the tests are made in that order, and the highest qualifying letter wins.
#include "app/keydisk.h"

#include "fs/paths.h"
#include "platform/platform.h"

int FindKeyDisk(char* TargetFolder) {
  char root[] = "X:\\";
  for (char letter = 'Z'; letter >= 'D'; letter--) {
    root[0] = letter;
    if (GetDriveTypeA(root) != DRIVE_REMOVABLE) continue;
    if (!GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0)) continue;
    char folder[MAX_PATH];
    if (!JoinPath(folder, nullptr, root, ProductFolderName) || !IsFolder(folder)) continue;
    if (!AddTrailingBackslash(folder)) continue;
    for (int i = 0; i < MAX_PATH; i++) {
      TargetFolder[i] = folder[i];
      if (!folder[i]) break;
    }
    return 1;
  }
  return 0;
}
