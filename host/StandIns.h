// The stand-in applications of the build, seen from the host: installing them on a volume of
// the emulated machine, and finding, quitting or killing the ones that are running.
//
// The stand-ins are the executables in apps/bin beside the host program. Each installs
// itself when run as `NAME --install VOLUME` (the folder VOLUME/NAME.app and the volume's
// desktop database entry), so the host needs to know nothing of their creator codes. Test
// applications that share the folder (echo) are left out.
#pragma once

#include <MacTypes.h>

#include <cstdio>
#include <string>
#include <vector>

namespace host {

// The machine's root, QUILLCAST_HOME (default ~/.quillcast), as an absolute path; it is
// exported so that scripts and the applications they launch see the same machine. Empty
// when the machine folder is refused (MachineUsable says why).
std::string MachineHome();

// Whether the machine folder is the user's alone (MachineFolder.h); when it is not, says why
// on standard error and answers false, and nothing may be done on the machine.
bool MachineUsable();

// The Applications volume of the machine: <home>/Applications.
std::string ApplicationsVolume();

// apps/bin beside the host program.
std::string StandInFolder();

// Paths of the stand-in executables in folder, sorted by name; empty when there is none.
std::vector<std::string> StandInExecutables(const std::string &folder);

// Whether the executable is installed on the volume as <name>.app, linked to this very file.
bool StandInInstalled(const std::string &volume, const std::string &executable);

// Installs each executable on volume (an absolute path), passing its report through to out;
// with onlyMissing, those already installed are left alone. Returns the number of
// executables that failed; their messages go to standard error.
int InstallStandIns(const std::vector<std::string> &executables, const std::string &volume, bool onlyMissing,
                    std::FILE *out);

// So that "Clnt" finds the stand-ins and "Strt" can launch them on a fresh machine: installs
// those missing from the Applications volume, reporting on out (null: no report), unless
// QUILLCAST_NO_AUTO_INSTALL is set to something other than 0.
void InstallMissingStandIns(std::FILE *out);

// Process ids of the running applications whose process name is name, in launch order.
std::vector<int> RunningApplications(const std::string &name);

// Whether the process has exited or is on its way out (its files, sockets among them, may
// already be closed while it is still listed).
bool ProcessEnding(int pid);

// Asks every running application of that name to quit with the 'aevt'/'quit' event, as a
// user would, and waits up to seconds for all of them to be gone. Events that reached an
// application before the quit are carried out first. An application that cannot be reached
// gets SIGTERM instead. False when none was running or one outlived the wait.
bool QuitApplications(const std::string &name, double seconds);

// Opens documents with the installed application name, as a user would: launches it when it
// is not running (from the first volume where <name>.app is installed, waiting until it has
// registered) and sends it 'aevt'/'odoc' with the documents as file URLs of their absolute
// paths, waiting for its answer. With no documents it only launches. noErr, or the failing
// status with *message saying what went wrong.
OSErr OpenApplication(const std::string &name, const std::vector<std::string> &documents,
                      std::string *message);

// Kills every running application of that name (SIGKILL: a crash, nothing is written or
// unregistered) and waits up to seconds for all of them to be gone. False as above.
bool KillApplications(const std::string &name, double seconds);

}  // namespace host
