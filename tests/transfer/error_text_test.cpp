#include "transfer/error_text.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "base/error.h"
#include "platform/last_error.h"

namespace qs {
namespace {

bool EndsWithLineBreak(const std::u16string& text) {
  return text.size() > 2 && text.ends_with(u"\r\n");
}

TEST(FormatErrorTextTest, CodesThePageSeesHaveTheirOwnTextEndingInALineBreak) {
  const uint32_t codes[] = {2,     3,     5,     32,    80,    87,    112,   123,
                            183,   206,   1155,  1223,  12002, 12007, 12014, 12029,
                            12030, 12031, 12032, 12152, 12153, 0};
  std::set<std::u16string> texts;
  for (uint32_t code : codes) {
    const std::u16string text = FormatErrorText(code);
    EXPECT_NE(text, u"Error") << code;
    EXPECT_TRUE(EndsWithLineBreak(text)) << code;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), std::size(codes)) << "every code has a text of its own";
  EXPECT_EQ(FormatErrorText(12153),
            u"The server returned an invalid or unrecognized response header.\r\n");
  EXPECT_EQ(FormatErrorText(32),
            u"The process cannot access the file because it is being used by another "
            u"process.\r\n");
}

TEST(FormatErrorTextTest, CodesWithoutATextGiveError) {
  for (uint32_t code : {1u, 999u, 11999u, 65535u, 0x80004005u, 0x8007000Eu}) {
    EXPECT_EQ(FormatErrorText(code), u"Error") << code;
  }
}

TEST(FormatErrorTextTest, MinusOneReadsThisThreadsLastErrorAtTheTimeOfTheCall) {
  platform::SetLastError(ErrorCode::kSharingViolation);
  // Another thread's last error is its own.
  std::thread([] { platform::SetLastError(ErrorCode::kAccessDenied); }).join();
  EXPECT_EQ(FormatErrorText(kLastErrorCode), FormatErrorText(32));
  platform::SetLastError(ErrorCode::kHttpInvalidHeader);
  EXPECT_EQ(FormatErrorText(kLastErrorCode), FormatErrorText(12153));
  platform::SetLastError(0x4242);
  EXPECT_EQ(FormatErrorText(kLastErrorCode), u"Error");
}

TEST(MakeErrorResultTest, IsTheTextAsAString) {
  EXPECT_EQ(MakeErrorResult(87), Variant::String(FormatErrorText(87)));
  EXPECT_EQ(MakeErrorResult(0x4242), Variant::String(u"Error"));
}

}  // namespace
}  // namespace qs
