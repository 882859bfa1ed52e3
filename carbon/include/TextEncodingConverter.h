// Text Encoding Converter: conversions between Mac OS Roman, Unicode (UTF-8 and native
// UTF-16) and the Latin encodings, by this layer's own tables: Mac OS Roman follows
// Unicode's mapping table for it exactly, as the C library's converters do not.
//
// A converter is the caller's from TECCreateConverter until TECDisposeConverter.
#pragma once

#include "MacTypes.h"

typedef struct OpaqueTECObjectRef *TECObjectRef;
typedef UInt32 TextEncodingBase;
typedef UInt32 TextEncodingVariant;
typedef UInt32 TextEncodingFormat;
typedef unsigned char *TextPtr;
typedef const unsigned char *ConstTextPtr;

enum : TextEncodingBase {
  kTextEncodingMacRoman = 0,
  kTextEncodingUnicodeDefault = 0x0100,
  kTextEncodingISOLatin1 = 0x0201,
  kTextEncodingWindowsLatin1 = 0x0500,
};
enum : TextEncodingVariant {
  kTextEncodingDefaultVariant = 0,
  kMacRomanDefaultVariant = 0,
  kMacRomanCurrencySignVariant = 1,
  kMacRomanEuroSignVariant = 2,
};
enum : TextEncodingFormat { kTextEncodingDefaultFormat = 0, kUnicode16BitFormat = 0, kUnicodeUTF8Format = 2 };
enum : SInt16 {
  smRoman = 0,
  kTextScriptDontCare = -128,
  kTextLanguageDontCare = -128,
  kTextRegionDontCare = -128,
};

// The encoding of a script: Mac OS Roman for smRoman, smSystemScript (-1, Files.h) and
// kTextScriptDontCare; paramErr for any other script. fontName may be null.
OSStatus UpgradeScriptInfoToTextEncoding(ScriptCode iTextScriptID, LangCode iTextLanguageID,
                                         RegionCode iRegionID, ConstStr255Param iTextFontname,
                                         TextEncoding *oEncoding);

// base in bits 0-15, variant in bits 16-25, format in bits 26-31.
TextEncoding CreateTextEncoding(TextEncodingBase encodingBase, TextEncodingVariant encodingVariant,
                                TextEncodingFormat encodingFormat);
TextEncodingBase GetTextEncodingBase(TextEncoding encoding);

// kTECNoConversionPathErr for an encoding this layer does not know; *newEncodingConverter:
// caller disposes with TECDisposeConverter.
OSStatus TECCreateConverter(TECObjectRef *newEncodingConverter, TextEncoding inputEncoding,
                            TextEncoding outputEncoding);
OSStatus TECDisposeConverter(TECObjectRef encodingConverter);  // null is accepted

// Converts as much of the input as fits. noErr when all of it was converted;
// kTECOutputBufferFullStatus when the output filled first (convert the rest next);
// kTextMalformedInputErr for input that is not valid in its encoding;
// kTECUnmappableElementErr for a character the output encoding lacks;
// kTECPartialCharErr when the input ends inside a character. *actualInputLength and
// *actualOutputLength always tell how far the conversion came.
OSStatus TECConvertText(TECObjectRef encodingConverter, ConstTextPtr inputBuffer, ByteCount inputBufferLength,
                        ByteCount *actualInputLength, TextPtr outputBuffer, ByteCount outputBufferLength,
                        ByteCount *actualOutputLength);
OSStatus TECFlushText(TECObjectRef encodingConverter, TextPtr outputBuffer, ByteCount outputBufferLength,
                      ByteCount *actualOutputLength);  // nothing is ever held back: 0 bytes
