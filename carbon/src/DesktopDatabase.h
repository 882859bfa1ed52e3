// Internal to the carbon layer: the desktop database of an emulated volume, which maps
// creator codes to the applications installed on it.
//
// The database is the text file "<volume>/Desktop DB" (mode 0600), one entry per line:
//   creator (4 bytes) | TAB | path of the application file relative to the volume | LF
// Later entries for the same creator follow earlier ones; PBDTGetAPPLSync hands them out in
// file order. Lines that do not have this form, or whose path is absolute or climbs out of
// the volume, are passed over.
#pragma once

#include <MacTypes.h>

#include <string>
#include <string_view>
#include <vector>

namespace carbon {

constexpr char kDesktopDatabaseName[] = "Desktop DB";
constexpr size_t kMaxDesktopDatabaseBytes = 1 << 20;
constexpr size_t kMaxDesktopPath = 1024;

struct DesktopEntry {
  OSType creator = 0;
  std::string relativePath;
};

std::vector<DesktopEntry> ParseDesktopDatabase(std::string_view text);
std::string FormatDesktopDatabase(const std::vector<DesktopEntry> &entries);

// False when the volume has no desktop database (or it cannot be read).
bool ReadDesktopDatabase(const std::string &volumeRoot, std::vector<DesktopEntry> *entries);
// Adds or replaces the entry for relativePath, creating the database if need be.
OSErr AddDesktopEntry(const std::string &volumeRoot, OSType creator, const std::string &relativePath);

// The creator of an application folder (<Name>.app) from its Contents/PkgInfo ("APPL" and
// the creator); false when it is not one.
bool ReadPackageCreator(const std::string &folder, OSType *creator);

}  // namespace carbon
