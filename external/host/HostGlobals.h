// The host globals that carry a merge's templates, options and field list, keyed by a
// four-character code, in the order in which set-up files save them.
#pragma once

#include <MacTypes.h>

extern const char globFields[];       // 'Flds' field names of the records, one per line
extern const char globSubject[];      // 'Subj' subject template
extern const char globTo[];           // 'To  ' To template
extern const char globCc[];           // 'Cc  ' Cc template
extern const char globBcc[];          // 'Bcc ' Bcc template
extern const char globAttachments[];  // 'Atch' attachment paths template
extern const char globEncoding[];     // 'Encd' attachment encoding option
extern const char globStuffit[];      // 'Stuf' compression option
extern const char globMessage[];      // 'Mesg' message body template
extern const char globClient[];       // 'Clnt' the script's choice of client
extern const char globAccount[];      // 'Acnt' sending account template
extern const char globHTML[];         // 'HTML' HTML option

struct HostGlobal {
  OSType code;
  const char *name;
};

// The twelve globals in their saving order.
extern const HostGlobal hostGlobals[12];

// The host global's name for code, or null for a code outside the table.
const char *GetGlobalName(OSType code);

// The global of code in a new handle with CR line ends and its NUL; *out is null when the
// global has no value or memory is short. Caller disposes *out. False only when the global
// has a value that could not be copied, so that a merge never goes on as if a template the
// script set were empty.
Boolean LoadPrepareHandle(Handle *out, OSType code);
