#include "qsft/json.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace qs::json {
namespace {

Value ParseOk(std::string_view text, const Limits& limits = {}) {
  auto r = Parse(text, limits);
  if (auto* e = std::get_if<ParseError>(&r)) {
    ADD_FAILURE() << "parsing " << text << ": " << e->ToString();
    return Value();
  }
  return std::get<Value>(std::move(r));
}

ParseError ParseBad(std::string_view text, const Limits& limits = {}) {
  auto r = Parse(text, limits);
  if (auto* e = std::get_if<ParseError>(&r)) return *e;
  ADD_FAILURE() << "accepted: " << text;
  return {};
}

TEST(JsonReader, StringsDecodeToUtf16WithEscapesAndSurrogatesKept) {
  struct Case {
    std::string text;
    std::u16string expected;
  };
  const Case cases[] = {
      {R"("plain")", u"plain"},
      {R"("\"\\\/\b\f\n\r\t")", u"\"\\/\b\f\n\r\t"},
      {R"("\u0041\u00e9\u20AC")", u"A\u00e9\u20ac"},
      {"\"\xc3\xa9\xe2\x82\xac\"", u"\u00e9\u20ac"},             // raw UTF-8
      {"\"\xf0\x9f\x98\x80\"", std::u16string{0xD83D, 0xDE00}},  // astral, as a pair
      {R"("\ud83d\ude00")", std::u16string{0xD83D, 0xDE00}},     // escaped pair
      {R"("\ud800")", std::u16string{0xD800}},                   // lone high
      {R"("x\udc00y")", std::u16string{u'x', 0xDC00, u'y'}},     // lone low
      {R"("\ude00\ud83d")", std::u16string{0xDE00, 0xD83D}},     // reversed pair
      {R"("\u0000")", std::u16string(1, u'\0')},
  };
  for (const auto& c : cases) {
    Value v = ParseOk(c.text);
    ASSERT_EQ(v.kind(), Value::Kind::kString) << c.text;
    EXPECT_EQ(v.as_string(), c.expected) << c.text;
  }
}

TEST(JsonReader, RejectsMalformedTextWithColumn) {
  struct Case {
    std::string text;
    size_t column;
    std::string fragment;
  };
  const Case cases[] = {
      {"", 1, "found nothing"},
      {"   ", 4, "found nothing"},
      {"{\"a\":1} x", 9, "after the value"},
      {"[1,2]]", 6, "after the value"},
      {"{\"a\" 1}", 6, "expected ':'"},
      {"{\"a\":1,}", 8, "expected a string as object key"},
      {"[1,]", 4, "expected a value"},
      {"{a:1}", 2, "expected a string as object key"},
      {"{\"a\":1,\"a\":2}", 8, "duplicate object key"},
      {"\"abc", 5, "unterminated string"},
      {"\"a\tb\"", 3, "control character"},
      {"\"\\x\"", 2, "invalid escape"},
      {"\"\\u12g4\"", 6, "hex digit"},
      {"\"\\u12\"", 6, "hex digit"},
      {"\"\\u12", 6, "truncated"},
      {"tru", 1, "expected 'true'"},
      {"True", 1, "unexpected 'T'"},
      {"NaN", 1, "unexpected 'N'"},
      {"Infinity", 1, "unexpected 'I'"},
      {"-", 2, "expected a digit"},
      {"01", 2, "leading zero"},
      {"1.", 3, "decimal point"},
      {".5", 1, "unexpected '.'"},
      {"1e", 3, "exponent"},
      {"+1", 1, "unexpected '+'"},
      {"\xef\xbb\xbf{}", 1, "byte 0xEF"},     // no byte order mark
      {"\"\xc3\"", 2, "truncated sequence"},  // cut sequence
      {"\"\xc0\xaf\"", 2, "byte 0xC0"},       // overlong '/'
      {"\"\xe0\x80\xaf\"", 2, "overlong"},    // overlong, 3 bytes
      {"\"\xed\xa0\x80\"", 2, "surrogate"},   // encoded surrogate
      {"\"\xf4\x90\x80\x80\"", 2, "beyond U+10FFFF"},
      {"\"\xff\"", 2, "byte 0xFF"},
      {"\"\x80\"", 2, "byte 0x80"},
  };
  for (const auto& c : cases) {
    ParseError e = ParseBad(c.text);
    EXPECT_EQ(e.column, c.column) << c.text << " -> " << e.ToString();
    EXPECT_NE(e.message.find(c.fragment), std::string::npos) << c.text << " -> " << e.message;
  }
}

TEST(JsonReader, DepthAndSizeLimits) {
  Limits limits;
  limits.max_depth = 4;
  limits.max_bytes = 32;
  ParseOk("[[[[1]]]]", limits);
  ParseOk("{\"a\":[{\"b\":[]}]}", limits);
  EXPECT_NE(ParseBad("[[[[[1]]]]]", limits).message.find("deeper than 4"), std::string::npos);
  EXPECT_NE(ParseBad("{\"a\":[{\"b\":[{}]}]}", limits).message.find("deeper"), std::string::npos);
  EXPECT_NE(ParseBad(std::string(33, ' ') + "1", limits).message.find("longer than 32"),
            std::string::npos);

  // The default depth stops a hostile line long before the stack would.
  std::string deep(100000, '[');
  EXPECT_NE(ParseBad(deep).message.find("deeper"), std::string::npos);
}

TEST(JsonReader, NumbersKeepTheirTextAndConvertOnlyWhenExact) {
  const int64_t i32min = std::numeric_limits<int32_t>::min();
  const int64_t i32max = std::numeric_limits<int32_t>::max();
  struct Case {
    std::string text;
    std::optional<int64_t> as_int32;
  };
  const Case cases[] = {
      {"0", 0},
      {"-0", 0},
      {"7", 7},
      {"2147483647", i32max},
      {"-2147483648", i32min},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"1e400", std::nullopt},
      {"1.0", std::nullopt},
      {"1E2", std::nullopt},
      {"-1.5e-3", std::nullopt},
  };
  for (const auto& c : cases) {
    Value v = ParseOk(c.text);
    ASSERT_EQ(v.kind(), Value::Kind::kNumber) << c.text;
    EXPECT_EQ(v.number_text(), c.text);
    EXPECT_EQ(v.AsInteger(i32min, i32max), c.as_int32) << c.text;
    EXPECT_EQ(Write(v), c.text);  // an echoed id is unchanged
  }
  EXPECT_EQ(Value::Integer(-2147352570).number_text(), "-2147352570");
  EXPECT_EQ(Value::String(u"1").AsInteger(0, 9), std::nullopt);
}

TEST(JsonReader, ObjectsKeepMemberOrderAndFindByExactKey) {
  Value v = ParseOk(R"( { "z" : 1 , "a" : [ true , false , null ] , "A" : {} } )");
  ASSERT_EQ(v.kind(), Value::Kind::kObject);
  const Object& o = v.as_object();
  ASSERT_EQ(o.size(), 3u);
  EXPECT_EQ(o[0].first, u"z");
  EXPECT_EQ(o[1].first, u"a");
  EXPECT_EQ(o[2].first, u"A");
  ASSERT_NE(v.Find(u"a"), nullptr);
  EXPECT_EQ(v.Find(u"a")->as_array().size(), 3u);
  EXPECT_TRUE(v.Find(u"a")->as_array()[2].is_null());
  EXPECT_EQ(v.Find(u"A")->kind(), Value::Kind::kObject);
  EXPECT_EQ(v.Find(u"Z"), nullptr);
  EXPECT_EQ(Write(v), R"({"z":1,"a":[true,false,null],"A":{}})");
}

TEST(JsonWriter, EscapesControlsAndLoneSurrogatesAndWritesUtf8) {
  struct Case {
    std::u16string text;
    std::string expected;
  };
  const Case cases[] = {
      {u"a\"b\\c/", R"("a\"b\\c/")"},
      {u"\n\r\t\b\f", R"("\n\r\t\b\f")"},
      {std::u16string{0x01, 0x1F, 0x7F}, "\"\\u0001\\u001f\x7f\""},
      {std::u16string(1, u'\0'), R"("\u0000")"},
      {u"\u00e9\u20ac", "\"\xc3\xa9\xe2\x82\xac\""},
      {std::u16string{0xD83D, 0xDE00}, "\"\xf0\x9f\x98\x80\""},
      {std::u16string{0xD800}, R"("\ud800")"},
      {std::u16string{0xDC00, u'x'}, R"("\udc00x")"},
      {std::u16string{0xD83D, 0xD83D, 0xDE00}, "\"\\ud83d\xf0\x9f\x98\x80\""},
      {std::u16string{u'a', 0xD83D}, R"("a\ud83d")"},
  };
  for (const auto& c : cases) {
    std::string written = Write(Value::String(c.text));
    EXPECT_EQ(written, c.expected);
    // Whatever the writer emits reads back as the same code units.
    Value back = ParseOk(written);
    EXPECT_EQ(back.as_string(), c.text) << written;
  }
}

TEST(JsonWriter, RoundTripsNestedValues) {
  const std::string text =
      R"({"id":null,"result":[1,-2,"x",[],{},{"k":[true,{"n":1.5e3}]}],"e":""})";
  EXPECT_EQ(Write(ParseOk(text)), text);
}

}  // namespace
}  // namespace qs::json
