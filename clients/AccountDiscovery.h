// Account discovery ("Acts"): the names of the accounts configured in a client (for
// Eudora: its personalities), one per line, for a script to offer as the sending account of
// a merge. The names are asked over Apple Events, through the merge's open connection when
// there is one, else through a temporary connection that is closed again before the call
// returns, after which the host is brought back to the front.
//
// What each client is asked: Outlook Express and Entourage the names of every POP account,
// then of every IMAP account; Eudora the name of personality 1, 2, ... until an answer is not
// text (at most 256); Mailsmith every 'Mact', PowerMail every 'acct', Apple Mail every 'mact'.
// QuickMail and Emailer have no accounts to ask for.
//
// Ownership: the text handle is the caller's (null on failure). A list filled by
// GetEmailClientAccountNames is the caller's on success only; on failure nothing is left.
#pragma once

#include <AEDataModel.h>
#include <MacTypes.h>

struct EmailClientConnection;

// Each account name is at most this long; a longer one ends the list.
inline constexpr Size kLongestAccountName = 256;

// The "Acts" text: each name followed by CR, the whole ended by NUL; the empty text for a
// client without accounts. With `open` (the merge's connection) the answer is for its client,
// whatever name is given; else for the client whose product name is `name`. Null when the
// name matches no client, the client is neither running nor installed, the connection cannot
// be opened, the client's query fails, or memory runs out.
Handle GetEmailClientAccounts(const char *name, EmailClientConnection *open);

// Puts a new list of the client's account names (text descriptors) into *list. 0, or the
// query's error; errAEEventNotHandled for QuickMail and Emailer (nothing is sent); 1 for a
// creator code outside the registry. A failed POP query of Outlook Express and Entourage
// gives the IMAP names alone, and a failed IMAP query the POP names alone.
SInt32 GetEmailClientAccountNames(EmailClientConnection *connection, AEDescList *list);

// The "Acts" text of a list of names, as described above. Null when an item cannot be read
// as text or memory runs out; an item over kLongestAccountName bytes ends the text there.
Handle AccountNamesToText(const AEDescList *names);
