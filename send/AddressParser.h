// Address parser: splits a recipient list typed into the To, Cc and Bcc templates into its
// items, and each item into a display name and an address, and writes an item back in the
// shape a client wants:
//   round    user1 (Ann Lee)
//   angled   Ann Lee <user1>
//   bare     user1
// Items are separated by commas outside parentheses; a name is either in parentheses after
// the address or before/after an address in angle brackets. Nothing else (quotation marks,
// the syntax of the address itself) means anything to the parser. Blanks are space, CR, LF
// and TAB.
//
// Ownership: the parser does not copy the list. The caller's text must stay unchanged and
// allocated until DestroyAddressParser. Names and addresses from ParseNextAddress and
// GetNextAddressOnly point into the caller's text; texts from GetNextAddressRound,
// GetNextAddressAngled and GetAllAddressesRound point into the parser's own buffer and are
// valid until the next call on the same parser. Nothing is NUL-terminated.
#pragma once

#include <MacTypes.h>

struct AddressParser {
  const char *current;  // first byte not yet consumed
  const char *end;      // one past the last non-blank byte of the list
  char *buffer;         // output area of the round and angled forms; owned by the parser
  UInt32 bufferSize;    // bytes in buffer: the trimmed list length + 16, or more once grown
  OSErr status;         // set when GetAllAddressesRound could not grow buffer
};

// A new parser for the list, or null. Null with *status 0: the list is empty or blank,
// which callers treat as "no recipients". Null with a non-zero *status: an allocation failed
// (already reported to the user); nothing stays allocated. Caller disposes with
// DestroyAddressParser.
AddressParser *InitializeAddressParser(OSErr *status, const char *text, UInt32 length);

// Releases the buffer and the parser; null is accepted.
void DestroyAddressParser(AddressParser *parser);

// The next non-empty item, split and trimmed. Either part may come out empty (length 0).
// False when the list is exhausted or the parser is null; the outputs are then unchanged.
Boolean ParseNextAddress(AddressParser *parser, const char **name, UInt32 *nameLength, const char **address,
                         UInt32 *addressLength);

// Finds the first open byte and the first close byte after it. Inside: the bytes between.
// Outside: the longer of the two sides around the pair (the side after it on a tie). False,
// with no output changed, when there is no such pair.
Boolean SeparateByBrackets(const char *text, UInt32 length, char open, char close, const char **inside,
                           UInt32 *insideLength, const char **outside, UInt32 *outsideLength);

// The next item in round form ("address (name)", or the address alone).
Boolean GetNextAddressRound(AddressParser *parser, const char **text, UInt32 *length);
// The next item in angled form ("name <address>", or the address alone).
Boolean GetNextAddressAngled(AddressParser *parser, const char **text, UInt32 *length);
// The next item's bare address, pointing into the caller's text.
Boolean GetNextAddressOnly(AddressParser *parser, const char **text, UInt32 *length);

// The rest of the list in round form, items joined by "," with no blank. True if at least
// one item was written. The buffer grows as needed, so a list of any length comes out
// whole; if growing fails, the result is false and parser->status holds the Memory Manager
// error. A null parser (a blank list) gives false with no output changed.
Boolean GetAllAddressesRound(AddressParser *parser, const char **text, UInt32 *length);
