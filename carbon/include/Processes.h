// Process Manager and application launching over the emulated machine's process table,
// $QUILLCAST_HOME/run: one entry per running application, written by the application when
// it registers (see apps/kit). A process serial number is {0, pid} for an application
// process; entries whose process has died are never reported and are cleaned away.
#pragma once

#include "Files.h"
#include "MacTypes.h"

struct ProcessSerialNumber {
  UInt32 highLongOfPSN;
  UInt32 lowLongOfPSN;
};

enum { kNoProcess = 0, kSystemProcess = 1, kCurrentProcess = 2 };

// processInfoLength must be 60 (the classic size) or sizeof(ProcessInfoRec); processName
// and processAppSpec are null or point at the caller's Str255 and FSSpec.
struct ProcessInfoRec {
  UInt32 processInfoLength;
  StringPtr processName;
  ProcessSerialNumber processNumber;
  UInt32 processType;
  OSType processSignature;
  UInt32 processMode;
  Ptr processLocation;
  UInt32 processSize;
  UInt32 processFreeMem;
  ProcessSerialNumber processLauncher;
  UInt32 processLaunchDate;
  UInt32 processActiveTime;
  FSSpec *processAppSpec;
};

typedef uint16_t LaunchFlags;
enum : LaunchFlags {
  launchContinue = 0x4000,
  launchNoFileFlags = 0x0800,
  launchUseMinimum = 0x0400,
  launchDontSwitch = 0x0200,
  launchAllow24Bit = 0x0100,
  launchInhibitDaemon = 0x0080,
};
enum { extendedBlock = 0x4C43, extendedBlockLen = 32 };

struct AppParameters;

struct LaunchParamBlockRec {
  UInt32 reserved1;
  UInt16 reserved2;
  UInt16 launchBlockID;
  UInt32 launchEPBLength;
  UInt16 launchFileFlags;
  LaunchFlags launchControlFlags;
  FSSpec *launchAppSpec;
  ProcessSerialNumber launchProcessSN;
  UInt32 launchPreferredSize;
  UInt32 launchMinimumSize;
  UInt32 launchAvailableSize;
  AppParameters *launchAppParameters;
};

OSErr GetNextProcess(ProcessSerialNumber *PSN);  // procNotFound after the last, PSN then {0,0}
OSErr GetProcessInformation(const ProcessSerialNumber *PSN, ProcessInfoRec *info);
OSErr GetCurrentProcess(ProcessSerialNumber *PSN);
OSErr GetFrontProcess(ProcessSerialNumber *PSN);
OSErr SetFrontProcess(const ProcessSerialNumber *PSN);
OSErr ShowHideProcess(const ProcessSerialNumber *psn, Boolean visible);
Boolean IsProcessVisible(const ProcessSerialNumber *psn);
OSErr SameProcess(const ProcessSerialNumber *PSN1, const ProcessSerialNumber *PSN2, Boolean *result);

// Starts the application file as a new process and returns once it has registered in the
// process table (or has died, or did not register in time: then an error).
OSErr LaunchApplication(LaunchParamBlockRec *launchParams);
