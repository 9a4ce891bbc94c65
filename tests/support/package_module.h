// A module of the test's own whose ZIPFILE/UPDATE resource is a package made in the test, for
// InstallPackageFrom / OpenPackage over the POSIX layer.
//
//   PackageModule module(BuildPackage(BuildUnpacked(entries)));
//   InstallPackageFrom(module.Handle(), "E:\\Zarpo\\");
#pragma once

#include <string>
#include <utility>

#include "platform/posix/module.h"

struct PackageModule {
  explicit PackageModule(std::string bytes) : package(std::move(bytes)) {
    const BYTE* data = reinterpret_cast<const BYTE*>(package.data());
    resource = {"ZIPFILE", "UPDATE", 1041, data, data + package.size()};
    module = {&resource, 1};
  }
  PackageModule(const PackageModule&) = delete;
  PackageModule& operator=(const PackageModule&) = delete;
  HMODULE Handle() { return &module; }

  std::string package;
  PosixResource resource;
  HINSTANCE__ module;
};
