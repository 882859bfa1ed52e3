// Client connection: binds the plug-in to one running email client for a merge or an
// account query. Opening finds or launches the client and gathers once what the senders
// would otherwise ask for with every message:
// - Eudora: international sorting (setting 169) is switched to "n" while the connection
//   lives, and the old first character is put back at closing;
// - Outlook Express and Entourage: the names of all POP and all IMAP accounts;
// - Apple Mail: the name and the sender text ("Full Name <address>") of every account.
// The other clients need nothing beyond the creator code and the process.
//
// Ownership: OpenEmailClientConnection allocates the connection (AllocPtrFinal); the caller
// owns it and must give it to CloseEmailClientConnection, which releases it with everything
// it holds. On failure nothing is left allocated.
#pragma once

#include <AEDataModel.h>
#include <MacTypes.h>
#include <Processes.h>

// One Apple Mail account. Both texts are AllocPtrFinal blocks owned by the connection, not
// terminated.
struct MailAccountEntry {
  Ptr name;             // the account's name, exactly as Mail returned it
  Ptr sender;           // full name, a blank, "<", the first e-mail address, ">"
  UInt32 nameLength;    // byte count of name
  UInt32 senderLength;  // full-name length + address length + 3
};

struct EmailClientConnection {
  OSType signature;             // the client's creator code
  ProcessSerialNumber process;  // addresses every event of the connection ('psn ', 8 bytes)
  char savedSorting;            // Eudora: first character of setting 169 at opening; 0: none
  AEDesc popAccounts;           // Outlook Express, Entourage: list of POP account names
  AEDesc imapAccounts;          // Outlook Express, Entourage: list of IMAP account names
  MailAccountEntry *accounts;   // Apple Mail: one entry per account, in Mail's order
  SInt32 accountCount;          // Apple Mail: entries in accounts
  Boolean timedOut;             // a send timed out: the client may be frozen, so nothing
                                // more waits on it (set by the merge, false at opening)
};

// Opens a connection to the client with this creator code, launching it when it is
// installed but not running. On success *result holds the new connection (caller closes).
// Errors: fnfErr when the client is neither running nor installed, or the launch error
// (*result left as it was in both cases); the allocation error or the first failing
// account query's error (*result set to null).
SInt32 OpenEmailClientConnection(OSType signature, EmailClientConnection **result);
// Undoes the opening work for that client and releases the connection; neither quits the
// client nor changes its visibility. Null is accepted. On a connection that timed out, the
// Eudora setting is still put back, but without waiting for the client to take it.
void CloseEmailClientConnection(EmailClientConnection *connection);
// Hides (false) or shows (true) all windows of the client; the Process Manager's status.
OSErr ShowHideEmailClientConnection(EmailClientConnection *connection, Boolean visible);
// Sets Eudora setting 169 to the one-character text value, without waiting for a reply.
SInt32 SetEudoraInternationalSorting(const ProcessSerialNumber *process, char value);
