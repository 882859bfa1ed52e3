// Header fields of a message file in their RFC 5322 form, each whole: "Name: value" and its
// line end (LF, as everywhere in the store's files). A value is folded before column 78
// wherever it has room to fold: at blanks, never inside a quoted name or an encoded word.
// Texts come in as the clients hold them and are cleaned here: control characters become
// blanks (HeaderValue), invalid UTF-8 becomes U+FFFD. Whatever is not plain ASCII goes out
// in RFC 2047 encoded words (UTF-8, base64), as does a word that would otherwise be read as
// one ("=?"), so that a reader decodes exactly the text given. Every result is new.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "apps/mailstore/MailMessage.h"

// An unstructured field (Subject and the like); written even when the text is empty.
std::string TextHeaderField(std::string_view name, std::string_view text);

// A list of mailboxes: `Name <address>`, the name quoted or encoded as it needs, or the bare
// address when there is no name. Mailboxes without an address are left out; empty when none
// is left. An address that is not plain ASCII goes out as GMime writes it (its domain in IDNA).
std::string AddressHeaderField(std::string_view name, const std::vector<MailAddress> &mailboxes);

// "Date: Sun, 06 Dec 2026 16:36:26 +0100" for `when` in the local time zone.
std::string DateHeaderField(time_t when);

// The base64 form of bytes in lines of 76 characters, each ended by LF (none for no bytes).
std::string Base64Lines(std::string_view bytes);
