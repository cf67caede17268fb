#include "qsft/host.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "control/control.h"
#include "qsft/host_session.h"
#include "qsft/json.h"

namespace qs::app {
namespace {

constexpr int32_t kUnknownName = -2147352570;    // 0x80020006
constexpr int32_t kBadParamCount = -2147352562;  // 0x8002000E
constexpr int32_t kTypeMismatch = -2147352571;   // 0x80020005
constexpr int32_t kOverflow = -2147352566;       // 0x8002000A
constexpr int32_t kInvalidArg = -2147024809;     // 0x80070057

struct Session {
  std::vector<std::string> answers;
  std::string diag;
  int exit_code = -1;
};

Session RunSession(const std::vector<std::string>& lines, const HostOptions& options = {}) {
  std::string input;
  for (const auto& l : lines) input += l + "\n";
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream diag;
  Session s;
  s.exit_code = RunHost(in, out, diag, options);
  std::istringstream answers(out.str());
  for (std::string line; std::getline(answers, line);) s.answers.push_back(line);
  s.diag = diag.str();
  return s;
}

json::Value Parsed(const std::string& line) {
  auto r = json::Parse(line);
  if (auto* e = std::get_if<json::ParseError>(&r)) {
    ADD_FAILURE() << "answer is not JSON: " << line << " (" << e->ToString() << ")";
    return json::Value();
  }
  return std::get<json::Value>(std::move(r));
}

// The error code of an error answer, or nothing for a result.
std::optional<int64_t> ErrorCode(const std::string& line) {
  json::Value v = Parsed(line);
  const json::Value* error = v.Find(u"error");
  if (!error) return std::nullopt;
  return error->Find(u"code")->AsInteger(INT32_MIN, INT32_MAX);
}

TEST(Host, AnswersEachRequestInOrderWithItsId) {
  Session s = RunSession({
      R"({"id":1,"op":"create","control":"a","page":"https://dms.example.test/app/page","zone":2,"props":{"Url":"x"}})",
      R"({"id":"two","op":"get","control":"a","name":"Url"})",
      R"({"id":3.5,"op":"put","control":"a","name":"Url","value":""})",
      R"({"op":"get","control":"a","name":"Url"})", R"({"id":5,"op":"destroy","control":"a"})",
      R"({"id":6,"op":"quit"})",
      R"({"id":7,"op":"get","control":"a","name":"Url"})",  // after quit: not read
  });
  EXPECT_EQ(s.exit_code, 0);
  ASSERT_EQ(s.answers.size(), 6u);
  EXPECT_EQ(s.answers[0], R"({"id":1,"result":null})");
  EXPECT_EQ(s.answers[1], R"({"id":"two","result":"x"})");
  EXPECT_EQ(s.answers[2], R"({"id":3.5,"result":null})");
  EXPECT_EQ(s.answers[3], R"({"id":null,"result":""})");
  EXPECT_EQ(s.answers[4], R"({"id":5,"result":null})");
  EXPECT_EQ(s.answers[5], R"({"id":6,"result":null})");
}

TEST(Host, NamesResolveWhateverTheirCase) {
  Session s = RunSession({
      R"({"id":1,"op":"create","control":"a","props":{}})",
      R"({"id":2,"op":"call","control":"a","name":"gettransferstatus","args":[7]})",
      R"({"id":3,"op":"call","control":"a","name":"GETTRANSFERSTATUS","args":[7]})",
      R"({"id":4,"op":"get","control":"a","name":"uRL"})",
      R"({"id":5,"op":"call","control":"a","name":"chooseWorkDirWrapper","args":[1]})",
      R"({"id":6,"op":"call","control":"a","name":"CHECKWORKDIRWRAPPER","args":[1]})",
  });
  ASSERT_EQ(s.answers.size(), 6u);
  EXPECT_EQ(s.answers[1], R"({"id":2,"result":null})");  // no transfer: empty
  EXPECT_EQ(s.answers[2], R"({"id":3,"result":null})");
  EXPECT_EQ(s.answers[3], R"({"id":4,"result":"ERROR:NO_URL"})");
  // Found (a wrong count, not an unknown name): the alias reaches the entry.
  EXPECT_EQ(ErrorCode(s.answers[4]), kBadParamCount) << s.answers[4];
  EXPECT_EQ(ErrorCode(s.answers[5]), kBadParamCount) << s.answers[5];
}

TEST(Host, UserIsSanitisedWhenPutAndWhenGivenInProps) {
  Session s = RunSession({
      R"({"id":1,"op":"create","control":"a"})",
      R"({"id":2,"op":"put","control":"a","name":"User","value":"a/b\\c"})",
      R"({"id":3,"op":"get","control":"a","name":"user"})",
      R"({"id":4,"op":"create","control":"b","props":{"User":"a/b\\c"}})",
      R"({"id":5,"op":"get","control":"b","name":"User"})",
      R"({"id":6,"op":"create","control":"c","props":{"user":"x\\\\y//z"}})",
      R"({"id":7,"op":"get","control":"c","name":"User"})",
  });
  ASSERT_EQ(s.answers.size(), 7u);
  EXPECT_EQ(s.answers[1], R"({"id":2,"result":null})");
  EXPECT_EQ(s.answers[2], R"({"id":3,"result":"a_b_c"})");
  EXPECT_EQ(s.answers[4], R"({"id":5,"result":"a_b_c"})");
  EXPECT_EQ(s.answers[6], R"({"id":7,"result":"x__y__z"})");
}

TEST(Host, PropsDecideWhetherTheControlIsInitialised) {
  Session s = RunSession({
      R"({"id":1,"op":"create","control":"reset","props":{}})",
      R"({"id":2,"op":"create","control":"bare"})",
      R"({"id":3,"op":"get","control":"reset","name":"Url"})",
      R"({"id":4,"op":"get","control":"bare","name":"Url"})",
      R"({"id":5,"op":"get","control":"reset","name":"UserWorkDir"})",
      R"({"id":6,"op":"create","control":"given","props":{"Url":"u","DatasourceName":"ds","Colour":"red"}})",
      R"({"id":7,"op":"get","control":"given","name":"DatasourceName"})",
      R"({"id":8,"op":"get","control":"given","name":"Url"})",
  });
  ASSERT_EQ(s.answers.size(), 8u);
  EXPECT_EQ(s.answers[2], R"({"id":3,"result":"ERROR:NO_URL"})");
  EXPECT_EQ(s.answers[3], R"({"id":4,"result":""})");
  EXPECT_EQ(s.answers[4], R"({"id":5,"result":""})");
  EXPECT_EQ(s.answers[6], R"({"id":7,"result":"ds"})");
  EXPECT_EQ(s.answers[7], R"({"id":8,"result":"u"})");
  // A name the control does not read is pointed out on the diagnostics stream only.
  EXPECT_NE(s.diag.find("Colour"), std::string::npos) << s.diag;
}

TEST(Host, SaveGivesTheBagInWriteOrderAndFeedsBackAsProps) {
  Session s = RunSession({
      R"({"id":1,"op":"create","control":"a","props":{"DatasourceName":"ds","Url":"https://h/x","User":"p/q"}})",
      R"({"id":2,"op":"save","control":"a"})",
  });
  ASSERT_EQ(s.answers.size(), 2u);
  json::Value answer = Parsed(s.answers[1]);
  const json::Value* bag = answer.Find(u"result");
  ASSERT_NE(bag, nullptr) << s.answers[1];
  ASSERT_EQ(bag->kind(), json::Value::Kind::kObject);
  std::vector<std::u16string> names;
  for (const auto& m : bag->as_object()) names.push_back(m.first);
  // The four properties come last, in their fixed order, after the version stamp and the
  // base's own properties.
  ASSERT_GE(names.size(), 5u);
  const std::vector<std::u16string> last4(names.end() - 4, names.end());
  EXPECT_EQ(last4,
            (std::vector<std::u16string>{u"Url", u"UserWorkDir", u"User", u"DatasourceName"}));
  EXPECT_EQ(bag->Find(u"User")->as_string(), u"p_q");
  EXPECT_EQ(bag->Find(u"Url")->as_string(), u"https://h/x");
  EXPECT_EQ(bag->Find(names[0])->AsInteger(0, INT32_MAX), 0x00020002);

  // What was saved loads into a new control and saves the same again.
  std::string saved = json::Write(*bag);
  Session again = RunSession({
      R"({"id":1,"op":"create","control":"b","props":)" + saved + "}",
      R"({"id":2,"op":"save","control":"b"})",
  });
  ASSERT_EQ(again.answers.size(), 2u);
  EXPECT_EQ(again.answers[0], R"({"id":1,"result":null})");
  EXPECT_EQ(again.answers[1], R"({"id":2,"result":)" + saved + "}");
}

TEST(Host, RefusedCallsCarryTheDispatchCodes) {
  Session s = RunSession({
      R"({"id":1,"op":"create","control":"a","props":{}})",
      R"({"id":2,"op":"call","control":"a","name":"GetTransferStatus"})",
      R"({"id":3,"op":"call","control":"a","name":"GetTransferStatus","args":[]})",
      R"({"id":4,"op":"call","control":"a","name":"NoSuchMethod","args":[]})",
      R"({"id":5,"op":"get","control":"a","name":"Colour"})",
      R"({"id":6,"op":"call","control":"a","name":"GetTransferStatus","args":[{"x":1}]})",
      R"({"id":7,"op":"call","control":"a","name":"GetTransferStatus","args":[1e400]})",
      R"({"id":8,"op":"call","control":"a","name":"GetTransferStatus","args":[1.5]})",
      R"({"id":9,"op":"call","control":"a","name":"GetTransferStatus","args":[7,8]})",
  });
  ASSERT_EQ(s.answers.size(), 9u);
  EXPECT_EQ(ErrorCode(s.answers[1]), kBadParamCount) << s.answers[1];
  EXPECT_EQ(ErrorCode(s.answers[2]), kBadParamCount) << s.answers[2];
  EXPECT_EQ(ErrorCode(s.answers[3]), kUnknownName) << s.answers[3];
  EXPECT_EQ(ErrorCode(s.answers[4]), kUnknownName) << s.answers[4];
  EXPECT_EQ(ErrorCode(s.answers[5]), kTypeMismatch) << s.answers[5];
  EXPECT_EQ(ErrorCode(s.answers[6]), kTypeMismatch) << s.answers[6];
  EXPECT_EQ(ErrorCode(s.answers[7]), kTypeMismatch) << s.answers[7];
  EXPECT_EQ(ErrorCode(s.answers[8]), kBadParamCount) << s.answers[8];
  // Every error answer has a message and keeps the request's id.
  for (size_t i = 1; i < s.answers.size(); ++i) {
    json::Value v = Parsed(s.answers[i]);
    EXPECT_EQ(v.Find(u"id")->AsInteger(0, 100), static_cast<int64_t>(i + 1));
    EXPECT_FALSE(v.Find(u"error")->Find(u"message")->as_string().empty()) << s.answers[i];
  }
}

TEST(Host, UnsignedParametersTakeEveryThirtyTwoBitValueAndRefuseMoreAsOverflow) {
  Session s = RunSession({
      R"({"id":1,"op":"create","control":"a","props":{}})",
      R"({"id":2,"op":"call","control":"a","name":"GetTransferStatus","args":[4294967295]})",
      R"({"id":3,"op":"call","control":"a","name":"CancelTransfer","args":[2147483648]})",
      R"({"id":4,"op":"call","control":"a","name":"StartFileUpload","args":["u",false,"f",4294967295]})",
      R"({"id":5,"op":"call","control":"a","name":"GetTransferStatus","args":[4294967296]})",
      R"({"id":6,"op":"call","control":"a","name":"CancelTransfer","args":[-1]})",
      R"({"id":7,"op":"call","control":"a","name":"CancelTransfer","args":[-2147483649]})",
      R"({"id":8,"op":"call","control":"a","name":"CancelTransfer","args":[123456789012345678901234]})",
      R"({"id":9,"op":"call","control":"a","name":"StartFileUpload","args":["u",false,"f",4294967296]})",
  });
  ASSERT_EQ(s.answers.size(), 9u);
  for (size_t i = 1; i <= 3; ++i) EXPECT_EQ(ErrorCode(s.answers[i]), std::nullopt) << s.answers[i];
  for (size_t i = 4; i <= 8; ++i) EXPECT_EQ(ErrorCode(s.answers[i]), kOverflow) << s.answers[i];
}

TEST(Host, MalformedLinesGetAnIdNullErrorAndTheHostGoesOn) {
  HostOptions options;
  options.limits.max_bytes = 200;
  Session s = RunSession(
      {
          R"({"id":1,"op":"create","control":"a"})",
          R"({"id":2,"op":"get",)",                                // cut short
          "",                                                      // empty line
          R"([1,2])",                                              // not an object
          R"({"id":{"n":1},"op":"quit"})",                         // id that cannot be echoed
          "{\"id\":3,\"op\":\"get\",\"control\":\"\xff\"}",        // invalid UTF-8
          R"({"id":4,"op":"get","control":"a","name":"Url"} {})",  // trailing text
          std::string(500, ' ') + "{}",                            // over the line limit
          R"({"id":5,"op":"get","control":"a","name":"Url"})",
      },
      options);
  ASSERT_EQ(s.answers.size(), 9u);
  for (size_t i = 1; i <= 7; ++i) {
    json::Value v = Parsed(s.answers[i]);
    ASSERT_NE(v.Find(u"id"), nullptr) << s.answers[i];
    EXPECT_TRUE(v.Find(u"id")->is_null()) << s.answers[i];
    EXPECT_EQ(ErrorCode(s.answers[i]), kInvalidArg) << s.answers[i];
  }
  EXPECT_NE(s.answers[1].find("column"), std::string::npos) << s.answers[1];
  EXPECT_NE(s.answers[7].find("longer than 200"), std::string::npos) << s.answers[7];
  EXPECT_EQ(s.answers[8], R"({"id":5,"result":""})");
}

TEST(Host, RequestsThatNameNothingUsableAreRefusedClearly) {
  Session s = RunSession({
      R"({"id":1,"op":"create","control":"a"})",
      R"({"id":2,"op":"frobnicate"})",
      R"({"id":3})",
      R"({"id":4,"op":"get","control":"zz","name":"Url"})",
      R"({"id":5,"op":"create","control":"a"})",
      R"({"id":6,"op":"create","control":"b","props":"Url=x"})",
      R"({"id":7,"op":"get","control":"b","name":"Url"})",
      R"({"id":8,"op":"put","control":"a","name":"Url"})",
      R"({"id":9,"op":"destroy","control":"a"})",
      R"({"id":10,"op":"destroy","control":"a"})",
      R"({"id":11,"op":"create","control":"b","zone":-1,"page":"https://h/"})",
  });
  ASSERT_EQ(s.answers.size(), 11u);
  const std::pair<size_t, const char*> refused[] = {
      {1, "unknown op \\\"frobnicate\\\""},
      {2, "no \\\"op\\\""},
      {3, "no control named \\\"zz\\\""},
      {4, "exists already"},
      {5, "\\\"props\\\" must be an object"},
      {6, "no control named \\\"b\\\""},
      {7, "no \\\"value\\\""},
      {9, "no control named \\\"a\\\""},
      {10, "\\\"zone\\\""},
  };
  for (const auto& [index, text] : refused) {
    EXPECT_EQ(ErrorCode(s.answers[index]), kInvalidArg) << s.answers[index];
    EXPECT_NE(s.answers[index].find(text), std::string::npos) << s.answers[index];
  }
  EXPECT_EQ(s.answers[8], R"({"id":9,"result":null})");
}

TEST(Host, ControlsAreIndependentAndLiveUntilDestroyed) {
  Session s = RunSession({
      R"({"id":1,"op":"create","control":"a","props":{"Url":"one"}})",
      R"({"id":2,"op":"create","control":"b","props":{"Url":"two"}})",
      R"({"id":3,"op":"get","control":"a","name":"Url"})",
      R"({"id":4,"op":"get","control":"b","name":"Url"})",
      R"({"id":5,"op":"destroy","control":"a"})", R"({"id":6,"op":"get","control":"b","dispid":0})",
      R"({"id":7,"op":"create","control":"a"})",
      R"({"id":8,"op":"get","control":"a","name":"Url"})",
      // End of input quits with "b" and the new "a" still alive.
  });
  ASSERT_EQ(s.answers.size(), 8u);
  EXPECT_EQ(s.exit_code, 0);
  EXPECT_EQ(s.answers[2], R"({"id":3,"result":"one"})");
  EXPECT_EQ(s.answers[3], R"({"id":4,"result":"two"})");
  EXPECT_EQ(s.answers[5], R"({"id":6,"result":"two"})");  // dispatch number 0 is Url
  EXPECT_EQ(s.answers[7], R"({"id":8,"result":""})");
}

TEST(Host, PageIdentityComesFromCreate) {
  HostOptions options;
  std::ostringstream diag;
  HostSession session(options, diag);
  EXPECT_EQ(
      session.Answer(
          R"({"id":1,"op":"create","control":"p","page":"https://dms.example.test/app/page","zone":2})"),
      R"({"id":1,"result":null})");
  EXPECT_EQ(session.Answer(R"({"id":2,"op":"create","control":"d","page":"https://h.test/"})"),
            R"({"id":2,"result":null})");
  EXPECT_EQ(session.Answer(R"({"id":3,"op":"create","control":"none","zone":2})"),
            R"({"id":3,"result":null})");

  auto page = session.FindControl(u"p")->GetPageUrlAndZone();
  ASSERT_TRUE(page.ok());
  EXPECT_EQ(page->url, u"https://dms.example.test/app/page");
  EXPECT_EQ(page->zone, 2u);
  auto defaulted = session.FindControl(u"d")->GetPageUrlAndZone();
  ASSERT_TRUE(defaulted.ok());
  EXPECT_EQ(defaulted->zone, 3u);  // the internet zone unless told otherwise
  EXPECT_FALSE(session.FindControl(u"none")->GetPageUrlAndZone().ok());
}

}  // namespace
}  // namespace qs::app
