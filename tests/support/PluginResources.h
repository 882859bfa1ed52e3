// Test helper: opens the bundle's resource file (built beside the tests) and loads what an
// error alert reads, so that the Resource Manager's cached handles do not count as leaks of
// the code under test. The files are closed at exit, which releases those handles too.
#pragma once

#include <Endian.h>
#include <Resources.h>

#include "support/ErrorReporting.h"

#include <cstdlib>
#include <string>

inline bool OpenPluginResources() {
  const char *build = std::getenv("QUILLCAST_BUILD_DIR");
  if (build == nullptr) return false;
  std::string path = std::string(build) + "/Quillcast.bundle/Contents/Resources/Quillcast.rsrc";
  if (CarbonOpenResourceFile(path.c_str()) <= 0) return false;
  static const bool closeAtExit = std::atexit(CarbonCloseAllResourceFiles) == 0;
  (void)closeAtExit;
  if (Handle alert = GetResource(kAlertResType, kErrorAlert);
      alert != nullptr && GetHandleSize(alert) >= 10) {
    GetResource(kDialogItemListResType, SInt16(GetBigEndian16(*alert + 8)));
  }
  for (SInt16 i = 1; i <= CountResources(kErrorMessageType); i++) GetIndResource(kErrorMessageType, i);
  return true;
}
