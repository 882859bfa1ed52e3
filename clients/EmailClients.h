// Email client registry: the fixed table of the eight email clients the plug-in can drive,
// their names and capabilities, and a live probe of whether each is running or installed.
//
// Clients are named by creator code everywhere else; the registry turns the host's product
// name into that code. The tables are constant and the registry keeps no state: every
// availability answer is probed afresh.
//
// Ownership: EmailClientInfo records belong to the caller. The list functions return a new
// handle (caller disposes), null on failure.
#pragma once

#include <Files.h>
#include <MacMemory.h>
#include <MacTypes.h>
#include <Processes.h>

enum : OSType {
  kOutlookExpressCreator = FourCC("MSNM"),
  kEntourageCreator = FourCC("OPIM"),
  kEudoraCreator = FourCC("CSOm"),
  kEmailerCreator = FourCC("MMan"),
  kMailsmithCreator = FourCC("BLTO"),
  kPowerMailCreator = FourCC("Cmlt"),
  kQuickMailCreator = FourCC("CeLP"),
  kMailAppCreator = FourCC("emal"),
};

// What the registry reports about one client; GetEmailClientInformation fills every field.
struct EmailClientInfo {
  Str255 manufacturer;             // maker's name from the table
  Str255 product;                  // product name: the client's name towards the host
  Boolean available;               // running, or its application file was found
  Boolean running;                 // a process of the client is running
  FSSpec applicationFile;          // of the running process, else the one found on disk
  ProcessSerialNumber process;     // the running process when running
  Boolean encodingServiceDefault;  // encoding 0
  Boolean encodingNone;            // encoding 1
  Boolean encodingBinHex;          // encoding 2
  Boolean encodingBase64;          // encoding 3
  Boolean encodingUUEncode;        // encoding 4
  Boolean encodingAppleSingle;     // encoding 5
  Boolean encodingAppleDouble;     // encoding 6
  Boolean compresses;              // the sender honours the compress-attachments option
  Boolean supportsHTML;            // the client takes an HTML body
};

// Product and manufacturer names, length-prefixed (Str255 layout).
extern const unsigned char outlookProduct[];
extern const unsigned char outlookManufacturer[];
extern const unsigned char entourageProduct[];
extern const unsigned char entourageManufacturer[];
extern const unsigned char eudoraProduct[];
extern const unsigned char eudoraManufacturer[];
extern const unsigned char emailerProduct[];
extern const unsigned char emailerManufacturer[];
extern const unsigned char mailsmithProduct[];
extern const unsigned char mailsmithManufacturer[];
extern const unsigned char powerMailProduct[];
extern const unsigned char powerMailManufacturer[];
extern const unsigned char quickMailProduct[];
extern const unsigned char quickMailManufacturer[];
extern const unsigned char mailAppProduct[];
extern const unsigned char mailAppManufacturer[];

// Attachment encoding names in the order of their numbers 0-6, length-prefixed, each
// ending with a carriage return (13) that the length counts, so that the characters after
// the length byte can be written to a list as they are.
extern const unsigned char esServiceDefault[];
extern const unsigned char esNoEncoding[];
extern const unsigned char esBinHex[];
extern const unsigned char esBase64[];
extern const unsigned char esUUEncode[];
extern const unsigned char esAppleSingle[];
extern const unsigned char esAppleDouble[];

// Always 8.
SInt32 CountEmailClients();
// Creator code of table entry index 0-7; 0 for any other index.
OSType GetEmailClientSignature(SInt32 index);
// Fills *info from the tables and probes the client. A code outside the table gets empty
// names and only encodingServiceDefault.
void GetEmailClientInformation(OSType signature, EmailClientInfo *info);
// Creator code of the client whose product name equals name exactly (case-sensitive, length
// taken modulo 256); 0 if none does. name is NUL-terminated.
OSType FindEmailClientCreator(const char *name);

// "Clnt": product names of the available clients in table order, each followed by CR, the
// whole ended by one NUL. Caller disposes; null on failure.
Handle GetEmailClientInfoHandle();
// "Encd": the encoding names of the named client, each followed by CR, ended by one NUL;
// only the NUL for an unknown name. Caller disposes; null on failure.
Handle GetEmailClientEncodings(const char *name);
// "sHTM": 1 when the named client takes HTML, else 0.
SInt32 GetEmailClientSupportsHTML(const char *name);
