// The codecs under the Text Encoding Converter and the Apple Event text coercions.
#include <gtest/gtest.h>

#include "TextCodec.h"

using carbon::Codec;

TEST(TextCodec, EveryMacRomanByteComesBackFromItsCharacter) {
  for (int byte = 0; byte < 256; byte++) {
    const uint8_t in = uint8_t(byte);
    char32_t character = 0;
    OSStatus status = noErr;
    ASSERT_EQ(carbon::DecodeCharacter(Codec::kMacRoman, &in, 1, &character, &status), 1u) << byte;
    uint8_t out[4] = {};
    ASSERT_EQ(carbon::EncodeCharacter(Codec::kMacRoman, character, out), 1u) << byte;
    EXPECT_EQ(out[0], in) << byte;
  }
}

TEST(TextCodec, MacRomanLacksWhatItsTableLacks) {
  // U+12206 shares its low 16 bits with the increment sign at 0xC6.
  for (char32_t character : {char32_t(0x0394), char32_t(0x4E2D), char32_t(0x12206), char32_t(0xFFFD)}) {
    uint8_t out[4] = {};
    EXPECT_EQ(carbon::EncodeCharacter(Codec::kMacRoman, character, out), 0u) << unsigned(character);
  }
}
