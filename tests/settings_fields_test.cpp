#include "settings/settings_fields.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace launcher {
namespace {

using ::testing::ElementsAre;
using ::testing::Optional;

std::optional<std::array<std::string, 4>> Four(const std::string& text) {
  std::istringstream in(text);
  return ReadFourFields(in);
}

using Fields = std::array<std::string, 4>;

TEST(SettingsFields, LinesCommasAndMixesGiveTheSameFields) {
  const Fields expected{"logo.jpg", "OP.swf", "Game.exe", "FULL"};
  EXPECT_THAT(Four("logo.jpg\r\nOP.swf\r\nGame.exe\r\nFULL\r\n"), Optional(expected));
  EXPECT_THAT(Four("logo.jpg,OP.swf,Game.exe,FULL"), Optional(expected));
  EXPECT_THAT(Four("logo.jpg,OP.swf\r\nGame.exe,FULL"), Optional(expected));
  EXPECT_THAT(Four("\"logo.jpg\",\"OP.swf\"\r\n\"Game.exe\"\r\n\"FULL\"\r\n"), Optional(expected));
  // Line ends as other systems write them: a lone LF, a lone CR.
  EXPECT_THAT(Four("logo.jpg\nOP.swf\nGame.exe\nFULL\n"), Optional(expected));
  EXPECT_THAT(Four("logo.jpg\rOP.swf\rGame.exe\rFULL"), Optional(expected));
  // A comma that ends its line is one delimiter with that line end.
  EXPECT_THAT(Four("logo.jpg,\r\nOP.swf,  \nGame.exe,\r\nFULL"), Optional(expected));
}

TEST(SettingsFields, BlanksAroundUnquotedFieldsAreNotPartOfThem) {
  EXPECT_THAT(Four("  logo.jpg  ,\tOP.swf\t, Game.exe ,  full  "),
              Optional(Fields{"logo.jpg", "OP.swf", "Game.exe", "full"}));
  EXPECT_THAT(Four("\" spaced name.jpg \",b,c,d"),
              Optional(Fields{" spaced name.jpg ", "b", "c", "d"}));
}

TEST(SettingsFields, QuotesGroupCommasAndSpaces) {
  EXPECT_THAT(Four("\"my, logo.jpg\",OP.swf,Game.exe,FULL"),
              Optional(Fields{"my, logo.jpg", "OP.swf", "Game.exe", "FULL"}));
  // Without the quotes the comma ends the first field and the rest becomes the second.
  EXPECT_THAT(Four("my, logo.jpg,OP.swf,Game.exe,FULL"),
              Optional(Fields{"my", "logo.jpg", "OP.swf", "Game.exe"}));
  // Text after a closing quote is dropped; a quote inside an unquoted field is kept.
  EXPECT_THAT(Four("\"a.jpg\"junk,b\"c,d,e"), Optional(Fields{"a.jpg", "b\"c", "d", "e"}));
  // An unclosed quote ends with its line instead of swallowing the file.
  EXPECT_THAT(Four("\"a.jpg\r\nb\r\nc\r\nd"), Optional(Fields{"a.jpg", "b", "c", "d"}));
}

TEST(SettingsFields, EmptyFieldsComeFromDoubleCommasAndEmptyLines) {
  EXPECT_THAT(Four("a,,c,d"), Optional(Fields{"a", "", "c", "d"}));
  EXPECT_THAT(Four("a\r\nb\r\nc\r\n\r\n"), Optional(Fields{"a", "b", "c", ""}));
  EXPECT_THAT(Four("a\r\n\r\n\r\nd"), Optional(Fields{"a", "", "", "d"}));
  EXPECT_THAT(Four("\"\",b,c,d"), Optional(Fields{"", "b", "c", "d"}));
}

TEST(SettingsFields, TooFewFieldsFail) {
  EXPECT_EQ(Four(""), std::nullopt);
  EXPECT_EQ(Four("a\r\nb\r\nc\r\n"), std::nullopt);  // three lines and nothing after
  EXPECT_EQ(Four("a,b,c"), std::nullopt);
  EXPECT_EQ(Four("a,b,c,   "), std::nullopt);  // only blanks where the fourth should begin
}

TEST(SettingsFields, OnlyFourFieldsAreRead) {
  std::istringstream in("a,b,c,d,e,f\r\n");
  EXPECT_THAT(ReadFourFields(in), Optional(Fields{"a", "b", "c", "d"}));
  std::string rest;
  std::getline(in, rest);
  EXPECT_EQ(rest, "e,f\r");
}

TEST(SettingsFields, HostileContentFailsWithoutHoldingItAll) {
  // A field longer than any path: a failure, read no further than the limit.
  std::istringstream long_field(std::string(kMaxFieldBytes + 10, 'a') + ",b,c,d");
  EXPECT_EQ(ReadField(long_field), std::nullopt);
  EXPECT_LE(static_cast<std::size_t>(long_field.tellg()), kMaxFieldBytes + 2);
  // Endless blanks or text after a closing quote are bounded the same way.
  std::istringstream blanks(std::string(kMaxFieldBytes + 10, ' ') + "a,b,c,d");
  EXPECT_EQ(ReadField(blanks), std::nullopt);
  std::istringstream after_quote("\"a\"" + std::string(kMaxFieldBytes + 10, 'x') + ",b,c,d");
  EXPECT_EQ(ReadField(after_quote), std::nullopt);
  // A NUL would silently cut a path short.
  EXPECT_EQ(Four(std::string("lo\0go.jpg,b,c,d", 15)), std::nullopt);
  // Bytes that are no text in any code page are passed on as they are.
  EXPECT_THAT(Four("\xFF\xFE\x80,\x81\x5C,c,d"),
              Optional(Fields{"\xFF\xFE\x80", "\x81\x5C", "c", "d"}));
  // A field exactly at the limit is still a name.
  std::istringstream at_limit(std::string(kMaxFieldBytes, 'a'));
  EXPECT_THAT(ReadField(at_limit), Optional(std::string(kMaxFieldBytes, 'a')));
}

}  // namespace
}  // namespace launcher
