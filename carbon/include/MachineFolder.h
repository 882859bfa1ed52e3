// The emulated machine's folder on disk, and how the programs of the machine make files.
//
// The machine folder is QUILLCAST_HOME; without it ~/.quillcast, and without HOME the user's
// runtime folder ($XDG_RUNTIME_DIR/quillcast). There is no other fallback: a shared
// temporary folder is never used, since anyone can make a folder there first.
//
// The machine folder and its folders Preferences, run, Data and Applications belong to the
// user who runs the program. Each is made with mode 0700 when missing; one that is not a
// folder, belongs to another user, or that group or others may write is refused and never
// used, whatever it holds. So is a machine folder inside a folder that another user owns or
// may write to (unless it is sticky, as /tmp is), since that user could put another folder
// in its place; and one whose path is too long for the sockets of its run folder.
//
// The host and the stand-in applications check the machine folder as they start and refuse
// to run on a refused one; the carbon layer itself then finds no folders (FindFolder answers
// afpAccessDenied), an empty process table, and cannot register or launch applications.
#pragma once

#include <MacTypes.h>

#include <string>
#include <string_view>

namespace carbon {

// The system's limit on the path of a Unix socket, in bytes (sun_path, less its NUL).
constexpr size_t kMaxSocketPath = 107;

// The machine folder as an absolute path, made when missing and checked with those of its
// folders that exist. Empty when it is refused; *problem (may be null) then says why, in a
// sentence for the user.
std::string MachineFolder(std::string *problem = nullptr);

// A folder inside the machine folder ("Temporary Items", "Data/Eudora"), made 0700 when
// missing and checked as the machine folder is; empty when it or the machine folder is
// refused, with *problem (may be null) saying why.
std::string MachineSubfolder(const std::string &name, std::string *problem = nullptr);

// Makes path and any missing folder above it, each with mode 0700; noErr when path is then a
// folder.
OSErr MakePrivateFolders(const std::string &path);

// Creates a new, empty file beside path, named path with a suffix unique to this process and
// call, with O_EXCL and O_NOFOLLOW and mode 0600, so that nothing already there (a link
// included) is ever opened. The descriptor (caller closes), or -1 with errno set; *temporary
// receives the new file's path.
int CreateUniqueFile(const std::string &path, std::string *temporary);

// Replaces the file at path whole: bytes go to a unique file beside it (flushed to the disk
// when flush is set), which is then renamed over it, so that a reader sees the old file or
// the new one and never a mixture, and a link at path is replaced rather than followed. 0, or
// the errno of the failure; nothing of the new file is left behind on failure.
int ReplaceFileContents(const std::string &path, std::string_view bytes, bool flush);

}  // namespace carbon
