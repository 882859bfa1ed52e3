// Application lookup and launching over the Process Manager, Launch Services, the desktop
// databases of the mounted volumes, and Internet Config.
#include "support/ApplicationLookup.h"

#include <Gestalt.h>
#include <InternetConfig.h>
#include <LaunchServices.h>
#include <MacErrors.h>

#include "support/ErrorReporting.h"

namespace {

constexpr UInt32 kClassicProcessInfoLength = 60;
constexpr SInt32 kFirstMacOSXVersion = 0x1000;
constexpr OSType kQuillcastSignature = FourCC("Qcst");
constexpr SInt32 kURLNotOpenedErr = 1997;
// A volume's desktop database is walked by a 16-bit index; stop before it wraps.
constexpr int kLastIndex = 0x7FFF;

// Walks one volume's desktop database for an application entry with this creator whose
// file still carries that creator. True with *file filled in.
bool FindApplicationOnVolume(OSType creator, int16_t vRefNum, FSSpec *file) {
  DTPBRec desktop{};
  desktop.ioVRefNum = vRefNum;
  if (PBDTGetPath(&desktop) != noErr) return false;
  for (int index = 1; index <= kLastIndex; ++index) {
    desktop.ioNamePtr = file->name;
    desktop.ioIndex = int16_t(index);
    desktop.ioFileCreator = creator;
    if (PBDTGetAPPLSync(&desktop) != noErr) return false;
    file->vRefNum = vRefNum;
    file->parID = desktop.ioAPPLParID;
    FInfo info{};
    // An entry whose file has gone or changed its creator is passed over.
    if (FSpGetFInfo(file, &info) == noErr && info.fdCreator == creator) return true;
  }
  return false;
}

// Searches the desktop databases volume by volume, in the File Manager's index order. The
// error is that of the volume lookup which found no further volume.
SInt32 SearchDesktopDatabases(OSType creator, FSSpec *file) {
  for (int index = 1; index <= kLastIndex; ++index) {
    HParamBlockRec volume{};
    volume.volumeParam.ioVolIndex = int16_t(index);
    OSErr err = PBHGetVInfoSync(&volume);
    if (err != noErr) return err;
    if (FindApplicationOnVolume(creator, volume.volumeParam.ioVRefNum, file)) return noErr;
  }
  return nsvErr;
}

}  // namespace

SInt32 FindApplicationProcess(OSType creator, ProcessSerialNumber *process) {
  process->highLongOfPSN = 0;
  process->lowLongOfPSN = kNoProcess;
  Str255 name;
  FSSpec spec;
  for (;;) {
    OSErr err = GetNextProcess(process);
    if (err != noErr) return err;
    ProcessInfoRec info{};
    info.processInfoLength = kClassicProcessInfoLength;
    info.processName = name;
    info.processAppSpec = &spec;
    err = GetProcessInformation(process, &info);
    if (err != noErr) return err;
    if (info.processType == FourCC("APPL") && info.processSignature == creator) return noErr;
  }
}

SInt32 FindApplicationFile(OSType creator, FSSpec *file) {
  SInt32 version = 0;
  if (Gestalt(gestaltSystemVersion, &version) == noErr && version >= kFirstMacOSXVersion) {
    FSRef ref;
    if (LSFindApplicationForInfo(creator, nullptr, nullptr, &ref, nullptr) == noErr &&
        FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, file, nullptr) == noErr) {
      return noErr;
    }
  }
  return SearchDesktopDatabases(creator, file);
}

SInt32 OpenApplicationFile(const FSSpec *file, ProcessSerialNumber *process) {
  FSSpec spec = *file;
  LaunchParamBlockRec params{};
  params.launchBlockID = extendedBlock;
  params.launchEPBLength = extendedBlockLen;
  params.launchFileFlags = 0;
  // Without launchDontSwitch the application comes to the front; launchContinue keeps the
  // host running.
  params.launchControlFlags = launchContinue + launchNoFileFlags;
  params.launchAppSpec = &spec;
  params.launchAppParameters = nullptr;
  OSErr err = LaunchApplication(&params);
  TestError(err);
  if (err == noErr) *process = params.launchProcessSN;
  return err;
}

SInt32 OpenURL(const void *url, SInt32 length) {
  static const unsigned char mailtoHint[] = {7, 'm', 'a', 'i', 'l', 't', 'o', ':'};
  ICInstance instance;
  OSStatus err = ICStart(&instance, kQuillcastSignature);
  if (err == noErr) {
    long start = 0;
    long end = length;
    err = ICLaunchURL(instance, mailtoHint, static_cast<const char *>(url), length, &start, &end);
    ICStop(instance);
  }
  if (err != noErr) {
    TestError(kURLNotOpenedErr);
    return kURLNotOpenedErr;
  }
  return noErr;
}
