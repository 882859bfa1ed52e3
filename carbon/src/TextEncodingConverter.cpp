// Text Encoding Converter over the codecs of TextCodec.h: each character is decoded from the
// input encoding and encoded into the output one, and the conversion stops at the first
// character that cannot be carried over or does not fit.
#include "TextCodec.h"

#include <MacErrors.h>
#include <TextEncodingConverter.h>

#include <cstring>
#include <new>

struct OpaqueTECObjectRef {
  carbon::Codec input;
  carbon::Codec output;
  bool asciiThrough;  // both sides write ASCII as itself, one byte a character
};

namespace {

// The codec of an encoding, or false for one this layer lacks.
bool CodecForEncoding(TextEncoding encoding, carbon::Codec *codec) {
  TextEncodingBase base = GetTextEncodingBase(encoding);
  TextEncodingFormat format = encoding >> 26;
  if (base == kTextEncodingMacRoman)
    *codec = carbon::Codec::kMacRoman;
  else if (base == kTextEncodingUnicodeDefault && format == kUnicodeUTF8Format)
    *codec = carbon::Codec::kUTF8;
  else if (base == kTextEncodingUnicodeDefault && format == kUnicode16BitFormat)
    *codec = carbon::Codec::kUTF16;
  else if (base == kTextEncodingISOLatin1)
    *codec = carbon::Codec::kLatin1;
  else if (base == kTextEncodingWindowsLatin1)
    *codec = carbon::Codec::kWindowsLatin1;
  else
    return false;
  return true;
}

}  // namespace

OSStatus UpgradeScriptInfoToTextEncoding(ScriptCode iTextScriptID, LangCode, RegionCode, ConstStr255Param,
                                         TextEncoding *oEncoding) {
  if (iTextScriptID != smRoman && iTextScriptID != -1 && iTextScriptID != kTextScriptDontCare)
    return paramErr;
  *oEncoding =
      CreateTextEncoding(kTextEncodingMacRoman, kTextEncodingDefaultVariant, kTextEncodingDefaultFormat);
  return noErr;
}

TextEncoding CreateTextEncoding(TextEncodingBase encodingBase, TextEncodingVariant encodingVariant,
                                TextEncodingFormat encodingFormat) {
  return (encodingBase & 0xFFFF) | ((encodingVariant & 0x3FF) << 16) | ((encodingFormat & 0x3F) << 26);
}

TextEncodingBase GetTextEncodingBase(TextEncoding encoding) {
  return encoding & 0xFFFF;
}

OSStatus TECCreateConverter(TECObjectRef *newEncodingConverter, TextEncoding inputEncoding,
                            TextEncoding outputEncoding) {
  carbon::Codec input;
  carbon::Codec output;
  *newEncodingConverter = nullptr;
  if (!CodecForEncoding(inputEncoding, &input) || !CodecForEncoding(outputEncoding, &output)) {
    return kTECNoConversionPathErr;
  }
  bool asciiThrough = input != carbon::Codec::kUTF16 && output != carbon::Codec::kUTF16;
  *newEncodingConverter = new (std::nothrow) OpaqueTECObjectRef{input, output, asciiThrough};
  return *newEncodingConverter != nullptr ? OSErr(noErr) : OSErr(memFullErr);
}

OSStatus TECDisposeConverter(TECObjectRef encodingConverter) {
  delete encodingConverter;
  return noErr;
}

OSStatus TECConvertText(TECObjectRef encodingConverter, ConstTextPtr inputBuffer, ByteCount inputBufferLength,
                        ByteCount *actualInputLength, TextPtr outputBuffer, ByteCount outputBufferLength,
                        ByteCount *actualOutputLength) {
  ByteCount in = 0;
  ByteCount out = 0;
  OSStatus status = noErr;
  if (encodingConverter == nullptr) status = paramErr;
  while (status == noErr && in < inputBufferLength) {
    if (encodingConverter->asciiThrough && inputBuffer[in] < 0x80 && out < outputBufferLength) {
      outputBuffer[out++] = inputBuffer[in++];  // most text is ASCII: copied without the codecs
      continue;
    }
    char32_t character;
    uint8_t bytes[4];
    size_t used = carbon::DecodeCharacter(encodingConverter->input, inputBuffer + in, inputBufferLength - in,
                                          &character, &status);
    if (used == 0) break;
    size_t made = carbon::EncodeCharacter(encodingConverter->output, character, bytes);
    if (made == 0)
      status = kTECUnmappableElementErr;
    else if (made > outputBufferLength - out)
      status = kTECOutputBufferFullStatus;
    if (status != noErr) break;
    std::memcpy(outputBuffer + out, bytes, made);
    in += used;
    out += made;
  }
  if (actualInputLength != nullptr) *actualInputLength = in;
  if (actualOutputLength != nullptr) *actualOutputLength = out;
  return status;
}

OSStatus TECFlushText(TECObjectRef encodingConverter, TextPtr, ByteCount, ByteCount *actualOutputLength) {
  if (actualOutputLength != nullptr) *actualOutputLength = 0;
  return encodingConverter != nullptr ? OSErr(noErr) : OSErr(paramErr);
}
