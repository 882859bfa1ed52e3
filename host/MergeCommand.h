// `quillcast merge`: a mail merge from a CSV file and a template file, for people with a
// spreadsheet and no script. It drives the external exactly as a script would ("Init",
// "AddD" per record, the templates as host globals, "Strt", "Merg" per record, "Fnsh",
// "Kill"), so everything it sends goes through the plug-in; around that it checks the
// merge before anything is sent, offers a dry run, shows progress and journals every record
// so that a stopped merge resumes exactly (see Journal.h).
#pragma once

namespace host {

// Exit statuses a shell script can rely on.
inline constexpr int kMergeAllSent = 0;
inline constexpr int kMergeSomeFailed = 1;  // or records left uncertain, or the merge stopped
inline constexpr int kMergeUsage = 2;       // bad arguments or input, or findings of the check

// argv[0] is "merge".
int MergeCommand(int argc, char **argv);

}  // namespace host
