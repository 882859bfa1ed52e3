// Apple Mail's account replies turned into MailAccountEntry texts. The replies come from
// another process, so every descriptor may have any type or size.
//
// Ownership: the texts are AllocPtrFinal blocks stored in the caller's entry; on failure
// nothing is stored and nothing is left allocated. ReleaseMailAccounts releases the texts of
// `count` entries (null texts are skipped) and then the array.
#pragma once

#include <AEDataModel.h>
#include <MacTypes.h>

#include "clients/ClientConnection.h"

// entry->name and nameLength: item `index` of Mail's list of account names, as text.
SInt32 CopyMailAccountName(const AEDescList *names, long index, MailAccountEntry *entry);

// entry->sender and senderLength: "<full name> <<first address>>", the address empty when
// the account has none. fullName is text; addresses is the list Mail gave.
SInt32 MakeMailAccountSender(const AEDesc *fullName, const AEDescList *addresses, MailAccountEntry *entry);

void ReleaseMailAccounts(MailAccountEntry *accounts, SInt32 count);
