// The JSON writer: string escaping (including bytes that are not UTF-8), numbers, and layout.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "host/common/JsonWriter.h"

namespace kx7host {
namespace {

TEST(JsonQuote, EscapesQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(JsonQuote(""), "\"\"");
  EXPECT_EQ(JsonQuote("Microphone L"), "\"Microphone L\"");
  EXPECT_EQ(JsonQuote("say \"hi\""), "\"say \\\"hi\\\"\"");
  EXPECT_EQ(JsonQuote("SOFTWARE\\ASIO"), "\"SOFTWARE\\\\ASIO\"");
  EXPECT_EQ(JsonQuote("a\nb\rc\td\be\ff"), "\"a\\nb\\rc\\td\\be\\ff\"");
  EXPECT_EQ(JsonQuote(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\x7f\"");
  EXPECT_EQ(JsonQuote(std::string("a\0b", 3)), "\"a\\u0000b\"");
  EXPECT_EQ(JsonQuote("/"), "\"/\"");
}

TEST(JsonQuote, PassesUtf8AndReadsOtherBytesAsLatin1) {
  // Well-formed sequences of two, three and four bytes stay as they are.
  EXPECT_EQ(JsonQuote("Gr\xc3\xb6\xc3\x9f!"), "\"Gr\xc3\xb6\xc3\x9f!\"");
  EXPECT_EQ(JsonQuote("\xe2\x82\xac"), "\"\xe2\x82\xac\"");
  EXPECT_EQ(JsonQuote("\xf0\x9f\x8e\xb5"), "\"\xf0\x9f\x8e\xb5\"");
  // A driver name in a single-byte code page: Latin-1 "ö" and "ß".
  EXPECT_EQ(JsonQuote("Gr\xf6\xdf!"), "\"Gr\\u00f6\\u00df!\"");
  // Cut-off sequences, stray continuation bytes, overlong forms, surrogates, beyond U+10FFFF.
  EXPECT_EQ(JsonQuote("\xc3"), "\"\\u00c3\"");
  EXPECT_EQ(JsonQuote("\xe2\x82"), "\"\\u00e2\\u0082\"");
  EXPECT_EQ(JsonQuote("\x80x"), "\"\\u0080x\"");
  EXPECT_EQ(JsonQuote("\xc0\xaf"), "\"\\u00c0\\u00af\"");
  EXPECT_EQ(JsonQuote("\xe0\x80\xaf"), "\"\\u00e0\\u0080\\u00af\"");
  EXPECT_EQ(JsonQuote("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
  EXPECT_EQ(JsonQuote("\xf4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\"");
  // A bad byte does not swallow the valid text after it.
  EXPECT_EQ(JsonQuote("\xe2\x41\x42"), "\"\\u00e2AB\"");
}

TEST(JsonNumber, WritesTheShortestTextThatReadsBack) {
  EXPECT_EQ(JsonNumber(48000.0), "48000");
  EXPECT_EQ(JsonNumber(44100.5), "44100.5");
  EXPECT_EQ(JsonNumber(-0.25), "-0.25");
  EXPECT_EQ(JsonNumber(0.1), "0.1");
  EXPECT_EQ(std::stod(JsonNumber(1.0 / 3.0)), 1.0 / 3.0);
  EXPECT_EQ(JsonNumber(std::nan("")), "null");
  EXPECT_EQ(JsonNumber(std::numeric_limits<double>::infinity()), "null");
}

TEST(JsonWriter, SeparatesMembersAndElementsWithoutIndentation) {
  std::ostringstream out;
  JsonWriter json(out, 0);
  json.BeginObject();
  json.Member("name", "KX-7");
  json.Member("count", 2);
  json.Key("list");
  json.BeginArray();
  json.Int(-1);
  json.Number(44100.0);
  json.Bool(true);
  json.Null();
  json.BeginObject();
  json.EndObject();
  json.BeginArray();
  json.EndArray();
  json.EndArray();
  json.Key("empty");
  json.BeginObject();
  json.EndObject();
  json.EndObject();
  EXPECT_EQ(out.str(),
            "{\"name\":\"KX-7\",\"count\":2,\"list\":[-1,44100,true,null,{},[]],\"empty\":{}}");
}

TEST(JsonWriter, IndentsEachMemberOnItsOwnLine) {
  std::ostringstream out;
  JsonWriter json(out, 2);
  json.BeginObject();
  json.Key("a\"b");
  json.BeginArray();
  json.Int(1);
  json.Int(2);
  json.EndArray();
  json.Key("none");
  json.BeginArray();
  json.EndArray();
  json.EndObject();
  EXPECT_EQ(out.str(), "{\n  \"a\\\"b\": [\n    1,\n    2\n  ],\n  \"none\": []\n}");
}

TEST(JsonWriter, ARowKeepsItsValuesOnOneLineAndTheLayoutAfterIt) {
  std::ostringstream out;
  JsonWriter json(out, 2);
  json.BeginObject();
  json.Key("log");
  json.BeginArray();
  for (int i = 0; i < 2; ++i) {
    json.BeginRow();
    json.Int(i);
    json.String("x");
    json.EndRow();
  }
  json.EndArray();
  json.Member("after", int32_t{1});
  json.EndObject();
  EXPECT_EQ(out.str(), "{\n  \"log\": [\n    [0,\"x\"],\n    [1,\"x\"]\n  ],\n  \"after\": 1\n}");
}

}  // namespace
}  // namespace kx7host
