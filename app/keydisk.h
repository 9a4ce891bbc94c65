// Finding the key disk: the removable drive, from Z: down to D:, whose root holds the product
// folder.
#pragma once

// The product folder at the root of a key disk.
const char ProductFolderName[] = "Zarpo";

// 1 with TargetFolder (MAX_PATH bytes) set to "X:\Zarpo\"; 0 with TargetFolder untouched.
int FindKeyDisk(char* TargetFolder);
