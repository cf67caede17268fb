#include "workdir/macro_expander.h"

#include <gtest/gtest.h>

#include <string>

#include "base/text.h"

namespace qs {
namespace {

struct ExpandCase {
  const char* text;
  const char* expected;
};

class MacroExpansion : public ::testing::TestWithParam<ExpandCase> {
 protected:
  static MacroExpander Macros() {
    MacroExpander expander;
    expander.AddMacro(u"LocalAppData", u"/home/u/.local/share");
    expander.AddMacro(u"Datasource", u"DS_1");
    expander.AddMacro(u"User", u"%LocalAppData%");  // a value that looks like a reference
    expander.AddMacro(u"Pct", u"%");
    return expander;
  }
};

TEST_P(MacroExpansion, ExpandsAsSpecified) {
  const auto& c = GetParam();
  EXPECT_EQ(ToUtf8(Macros().Expand(FromUtf8(c.text))), c.expected) << "text: " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MacroExpansion,
    ::testing::Values(ExpandCase{"", ""}, ExpandCase{"plain", "plain"},
                      ExpandCase{"%LocalAppData%\\Q", "/home/u/.local/share\\Q"},
                      // Names fold to lower case, whatever letters the template uses.
                      ExpandCase{"%localappdata%", "/home/u/.local/share"},
                      ExpandCase{"%LOCALAPPDATA%", "/home/u/.local/share"},
                      ExpandCase{"%lOcAlApPdAtA%", "/home/u/.local/share"},
                      // Undefined names stay, and the search goes on after their closing "%".
                      ExpandCase{"%Nope%", "%Nope%"},
                      ExpandCase{"%Nope%x%User%", "%Nope%x%LocalAppData%"},
                      ExpandCase{"%Nope%%User%", "%Nope%%LocalAppData%"},
                      // A lone "%" stays; "%%" names the empty macro, which is not defined.
                      ExpandCase{"50%", "50%"}, ExpandCase{"%", "%"}, ExpandCase{"a%b", "a%b"},
                      ExpandCase{"%%", "%%"}, ExpandCase{"%User", "%User"},
                      // Values are never expanded again, also when they supply a "%".
                      ExpandCase{"%User%", "%LocalAppData%"}, ExpandCase{"%Pct%User%", "%User%"},
                      ExpandCase{"%User%%Datasource%", "%LocalAppData%DS_1"},
                      ExpandCase{"a%Datasource%b%Datasource%c", "aDS_1bDS_1c"}));

TEST(MacroExpander, OnlyAsciiLettersFold) {
  MacroExpander expander;
  expander.AddMacro(u"\u00C9t\u00E9", u"summer");  // "Été": É is not ASCII, stays upper case
  EXPECT_EQ(expander.Expand(u"%\u00C9T\u00E9%"), u"summer");
  EXPECT_EQ(expander.Expand(u"%\u00E9t\u00E9%"), u"%\u00E9t\u00E9%");
}

TEST(MacroExpander, AddingAgainReplacesTheValue) {
  MacroExpander expander;
  expander.AddMacro(u"User", u"first");
  expander.AddMacro(u"USER", u"second");
  EXPECT_EQ(expander.Expand(u"%user%"), u"second");
}

TEST(MacroExpander, CopiesAreIndependent) {
  MacroExpander original;
  original.AddMacro(u"A", u"1");
  MacroExpander copy = original;
  copy.AddMacro(u"A", u"2");
  EXPECT_EQ(original.Expand(u"%A%"), u"1");
  EXPECT_EQ(copy.Expand(u"%A%"), u"2");
}

TEST(ExpandPathTemplate, TurnsBackslashesIntoSlashesAfterExpanding) {
  MacroExpander expander;
  expander.AddMacro(u"LocalAppData", u"/home/u/.local/share");
  expander.AddMacro(u"Datasource", u"DS1");
  EXPECT_EQ(ExpandPathTemplate(expander, u"%LocalAppData%\\Quillstone\\WebWorkDir\\%Datasource%"),
            u"/home/u/.local/share/Quillstone/WebWorkDir/DS1");
  EXPECT_EQ(ExpandPathTemplate(expander, u"\\\\srv\\share/x\\"), u"//srv/share/x/");
  EXPECT_EQ(ExpandPathTemplate(expander, u""), u"");
}

}  // namespace
}  // namespace qs
