#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "base/error_codes.h"
#include "control/script_error.h"
#include "control/script_value.h"

namespace qs {
namespace {

constexpr uint32_t kOk = 0;
const Variant kList = Variant::List({u"a"});
const Variant kArray = Variant::Array({Variant::String(u"a")});

TEST(ConvertArgument, ToString) {
  struct Row {
    const char* what;
    Variant arg;
    uint32_t hresult;
    ScriptString expected;
  };
  const Row rows[] = {
      {"text", Variant::String(u"a/b"), kOk, u"a/b"},
      {"empty text", Variant::String(u""), kOk, u""},
      {"null stays null", Variant::Null(), kOk, ScriptString::Null()},
      {"empty value", Variant(), kOk, u""},
      {"number", Variant::Int(-42), kOk, u"-42"},
      {"true", Variant::Bool(true), kOk, u"-1"},
      {"false", Variant::Bool(false), kOk, u"0"},
      {"list", kList, hresult::kTypeMismatch, {}},
      {"array", kArray, hresult::kTypeMismatch, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ArgumentConversion c = ConvertArgument(row.arg, ValueType::kString);
    EXPECT_EQ(c.hresult, row.hresult);
    if (c.ok()) {
      EXPECT_EQ(std::get<ScriptString>(c.value), row.expected);
    }
  }
  EXPECT_FALSE(
      std::get<ScriptString>(ConvertArgument(Variant::String(u""), ValueType::kString).value)
          .is_null());
}

TEST(ConvertArgument, ToBool) {
  struct Row {
    const char* what;
    Variant arg;
    uint32_t hresult;
    bool expected;
  };
  const Row rows[] = {
      {"true", Variant::Bool(true), kOk, true},
      {"false", Variant::Bool(false), kOk, false},
      {"non-zero", Variant::Int(7), kOk, true},
      {"negative", Variant::Int(-1), kOk, true},
      {"zero", Variant::Int(0), kOk, false},
      {"empty value", Variant(), kOk, false},
      {"text true", Variant::String(u"TRUE"), kOk, true},
      {"text false", Variant::String(u"false"), kOk, false},
      {"numeric text", Variant::String(u" 12 "), kOk, true},
      {"zero text", Variant::String(u"0"), kOk, false},
      {"other text", Variant::String(u"yes"), hresult::kTypeMismatch, false},
      {"empty text", Variant::String(u""), hresult::kTypeMismatch, false},
      {"null", Variant::Null(), hresult::kTypeMismatch, false},
      {"list", kList, hresult::kTypeMismatch, false},
      {"array", kArray, hresult::kTypeMismatch, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ArgumentConversion c = ConvertArgument(row.arg, ValueType::kBool);
    EXPECT_EQ(c.hresult, row.hresult);
    if (c.ok()) {
      EXPECT_EQ(std::get<bool>(c.value), row.expected);
    }
  }
}

TEST(ConvertArgument, ToUnsigned32) {
  struct Row {
    const char* what;
    Variant arg;
    uint32_t hresult;
    uint32_t expected;
  };
  const Row rows[] = {
      {"number", Variant::Int(7), kOk, 7},
      {"zero", Variant::Int(0), kOk, 0},
      {"largest int", Variant::Int(2147483647), kOk, 2147483647u},
      {"negative", Variant::Int(-1), hresult::kOverflow, 0},
      {"true", Variant::Bool(true), kOk, 0xFFFFFFFFu},
      {"false", Variant::Bool(false), kOk, 0},
      {"empty value", Variant(), kOk, 0},
      {"text", Variant::String(u"42"), kOk, 42},
      {"text with blanks and sign", Variant::String(u" +42 "), kOk, 42},
      {"largest as text", Variant::String(u"4294967295"), kOk, 0xFFFFFFFFu},
      {"too large text", Variant::String(u"4294967296"), hresult::kOverflow, 0},
      {"far too large text", Variant::String(u"99999999999999999999999"), hresult::kOverflow, 0},
      {"negative text", Variant::String(u"-3"), hresult::kOverflow, 0},
      {"far too small text", Variant::String(u"-99999999999999999999999"), hresult::kOverflow, 0},
      {"fraction", Variant::String(u"1.5"), hresult::kTypeMismatch, 0},
      {"word", Variant::String(u"seven"), hresult::kTypeMismatch, 0},
      {"empty text", Variant::String(u""), hresult::kTypeMismatch, 0},
      {"digits then text", Variant::String(u"12abc"), hresult::kTypeMismatch, 0},
      {"wide digits", Variant::String(u"\uFF11"), hresult::kTypeMismatch, 0},
      {"null", Variant::Null(), hresult::kTypeMismatch, 0},
      {"list", kList, hresult::kTypeMismatch, 0},
      {"array", kArray, hresult::kTypeMismatch, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ArgumentConversion c = ConvertArgument(row.arg, ValueType::kUInt32);
    EXPECT_EQ(c.hresult, row.hresult);
    if (c.ok()) {
      EXPECT_EQ(std::get<uint32_t>(c.value), row.expected);
    }
  }
}

TEST(ConvertArgument, VariantParametersTakeAnythingUnchanged) {
  for (const Variant& v : {Variant(), Variant::Int(3), Variant::Null(), kList, kArray}) {
    ArgumentConversion c = ConvertArgument(v, ValueType::kVariant);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(std::get<Variant>(c.value), v);
  }
}

TEST(ScriptArgs, ReadingAMissingOrMistypedArgumentRaisesInvalidArgument) {
  ScriptArgs args({ArgValue(ScriptString(u"x")), ArgValue(uint32_t{5})});
  EXPECT_EQ(args.String(0).str(), u"x");
  EXPECT_EQ(args.UInt32(1), 5u);
  for (auto read : {+[](const ScriptArgs& a) { (void)a.String(2); },
                    +[](const ScriptArgs& a) { (void)a.Bool(0); },
                    +[](const ScriptArgs& a) { (void)a.Any(1); }}) {
    try {
      read(args);
      ADD_FAILURE() << "no failure raised";
    } catch (const ScriptError& e) {
      EXPECT_EQ(e.hresult(), hresult::kInvalidArg);
    }
  }
}

TEST(CurrentFailureCode, ClassifiesWhatWasRaised) {
  auto code_of = [](auto raise) {
    try {
      raise();
    } catch (...) {
      return CurrentFailureCode();
    }
    return uint32_t{0};
  };
  EXPECT_EQ(code_of([] { RaiseInvalidArgument(); }), 0x80070057u);
  EXPECT_EQ(code_of([] { RaiseOutOfMemory(); }), 0x8007000Eu);
  EXPECT_EQ(code_of([] { throw std::bad_alloc(); }), 0x8007000Eu);
  EXPECT_EQ(code_of([] { throw std::runtime_error("x"); }), hresult::kFail);
  EXPECT_EQ(code_of([] { throw 5; }), hresult::kFail);
}

}  // namespace
}  // namespace qs
