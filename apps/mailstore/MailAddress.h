// Recipients as the clients receive them in events, turned into mailboxes. The plug-in
// writes an address in round form, "user (Name)", and joins several with commas; angled
// ("Name <user>") and bare forms are accepted too. Any bytes are parsed without failing:
// what cannot be split is taken as an address with no name. Texts are UTF-8 already.
#pragma once

#include <string_view>
#include <vector>

#include "apps/mailstore/MailMessage.h"

// One recipient. Blanks around the name and the address are trimmed, and a name in
// double quotes loses them. An item that is blank gives an empty address.
MailAddress ParseMailbox(std::string_view item);

// A list joined by commas. A comma inside parentheses, angle brackets or double quotes
// belongs to the item; blank items are skipped.
std::vector<MailAddress> ParseAddressList(std::string_view list);

// "Name <address>", or the address alone when there is no name; for records such as the
// envelope file, not for message headers (those are written and encoded by the MIME writer).
std::string FormatMailbox(const MailAddress &mailbox);
