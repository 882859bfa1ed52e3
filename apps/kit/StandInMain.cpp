// Installing a stand-in on a volume, launching it, and the main() that every stand-in shares.
#include "apps/kit/StandInApp.h"

#include <Endian.h>
#include <Folders.h>
#include <LaunchServices.h>
#include <MacErrors.h>
#include <MachineFolder.h>

#include <unistd.h>
#include <cstdio>
#include <cstring>

namespace standin {
namespace {

OSErr WritePackageInfo(const std::string &contents, OSType creator) {
  char info[8];
  PutBigEndian32(info, FourCC("APPL"));
  PutBigEndian32(info + 4, creator);
  return carbon::ReplaceFileContents(contents + "/PkgInfo", std::string_view(info, sizeof info), false) == 0
             ? OSErr(noErr)
             : OSErr(ioErr);
}

std::string RunningExecutable() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return length > 0 ? std::string(buffer, size_t(length)) : std::string();
}

std::string CodeText(OSType code) {
  char text[5];
  PutBigEndian32(text, code);
  text[4] = 0;
  return text;
}

}  // namespace

OSErr InstallApplication(const std::string &volumeRoot, const std::string &name, OSType creator,
                         const std::string &executablePath) {
  if (name.empty() || name.size() > 59 || name.find('/') != std::string::npos || name[0] == '.')
    return bdNamErr;
  if (volumeRoot.empty() || volumeRoot[0] != '/') return nsvErr;
  std::string contents = volumeRoot + "/" + name + ".app/Contents";
  OSErr err = carbon::MakePrivateFolders(contents + "/MacOS");  // the volume too, on a fresh machine
  if (err == noErr) err = WritePackageInfo(contents, creator);
  if (err != noErr) return err;
  std::string link = contents + "/MacOS/" + name;
  unlink(link.c_str());
  if (symlink(executablePath.c_str(), link.c_str()) != 0) return ioErr;
  FSRef application;
  std::string folder = volumeRoot + "/" + name + ".app";
  err = FSPathMakeRef(reinterpret_cast<const UInt8 *>(folder.c_str()), &application, nullptr);
  return err != noErr ? err : OSErr(LSRegisterFSRef(&application, true));
}

std::string ApplicationsVolume() {
  int16_t vRefNum = 0;
  long dirID = 0;
  FindFolder(kOnSystemDisk, kApplicationsFolderType, kCreateFolder, &vRefNum, &dirID);
  return std::string(CarbonHomeFolder()) + "/Applications";
}

OSErr LaunchInstalledApplication(const std::string &volumeRoot, const std::string &name,
                                 ProcessSerialNumber *psn, LaunchFlags flags) {
  std::string folder = volumeRoot + "/" + name + ".app";
  FSRef application;
  FSSpec spec{};
  OSErr err = FSPathMakeRef(reinterpret_cast<const UInt8 *>(folder.c_str()), &application, nullptr);
  if (err == noErr) err = FSGetCatalogInfo(&application, kFSCatInfoNone, nullptr, nullptr, &spec, nullptr);
  if (err != noErr) return err;
  LaunchParamBlockRec params{};
  params.launchBlockID = extendedBlock;
  params.launchEPBLength = extendedBlockLen;
  params.launchControlFlags = flags;
  params.launchAppSpec = &spec;
  err = LaunchApplication(&params);
  if (err == noErr) *psn = params.launchProcessSN;
  return err;
}

int StandInMain(int argc, char **argv, OSType creator, const std::string &name,
                const std::function<void(StandInApp &)> &setup) {
  if (argc == 3 && std::strcmp(argv[1], "--install") == 0) {
    OSErr err = InstallApplication(argv[2], name, creator, RunningExecutable());
    if (err != noErr) {
      std::fprintf(stderr, "%s: cannot install in %s (error %d)\n", name.c_str(), argv[2], err);
      return 1;
    }
    std::printf("Installed %s ('%s') in %s/%s.app\n", name.c_str(), CodeText(creator).c_str(), argv[2],
                name.c_str());
    return 0;
  }
  if (argc != 1) {
    std::fprintf(stderr, "usage: %s [--install VOLUME]\n", argv[0]);
    return 2;
  }
  std::string problem;
  if (carbon::MachineFolder(&problem).empty()) {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), problem.c_str());
    return 1;
  }
  StandInApp app(creator, name);
  setup(app);
  OSErr err = app.Run();
  if (err != noErr) std::fprintf(stderr, "%s: cannot register (error %d)\n", name.c_str(), err);
  return err == noErr ? 0 : 1;
}

}  // namespace standin
