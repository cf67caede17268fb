#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/error_codes.h"
#include "control/control.h"
#include "control/process_state.h"
#include "control_test_support.h"
#include "transfer/error_text.h"

namespace qs {
namespace {

using testing::FixedSite;
using testing::IdleTransfer;
using testing::MemoryBag;

Variant Get(CQSFileTransferCtrl& c, std::u16string_view name) {
  InvokeResult r = c.Invoke(name, InvokeKind::kPropertyGet, {});
  EXPECT_TRUE(r.ok());
  return r.value;
}

void Put(CQSFileTransferCtrl& c, std::u16string_view name, std::u16string value) {
  EXPECT_TRUE(c.Invoke(name, InvokeKind::kPropertyPut, {Variant::String(std::move(value))}).ok());
}

const std::u16string_view kProperties[] = {u"Url", u"UserWorkDir", u"User", u"DatasourceName"};

TEST(ControlProperties, AllEmptyBeforeAnyInitialisation) {
  CQSFileTransferCtrl control(nullptr);
  for (auto name : kProperties) EXPECT_EQ(Get(control, name), Variant::String(u"")) << name.size();
}

TEST(ControlProperties, ResetGivesEveryDefault) {
  CQSFileTransferCtrl control(nullptr);
  for (auto name : kProperties) Put(control, name, u"set");
  control.ResetProperties();
  EXPECT_EQ(Get(control, u"Url"), Variant::String(u"ERROR:NO_URL"));
  EXPECT_EQ(Get(control, u"UserWorkDir"), Variant::String(u""));
  EXPECT_EQ(Get(control, u"User"), Variant::String(u""));
  EXPECT_EQ(Get(control, u"DatasourceName"), Variant::String(u""));
}

TEST(ControlProperties, LoadTakesSuppliedValuesAndDefaultsTheRest) {
  CQSFileTransferCtrl control(nullptr);
  MemoryBag bag;
  bag.supplied = {{u"DatasourceName", Variant::String(u"ds")},
                  {u"User", Variant::String(u"a/b\\c")}};
  control.LoadProperties(bag);
  EXPECT_EQ(Get(control, u"Url"), Variant::String(u"ERROR:NO_URL"));
  EXPECT_EQ(Get(control, u"DatasourceName"), Variant::String(u"ds"));
  EXPECT_EQ(Get(control, u"User"), Variant::String(u"a_b_c"));  // sanitized at creation too
  EXPECT_EQ(Get(control, u"UserWorkDir"), Variant::String(u""));
}

TEST(ControlProperties, LoadKeepsASuppliedEmptyUrlAndConvertsOtherKinds) {
  CQSFileTransferCtrl control(nullptr);
  MemoryBag bag;
  bag.supplied = {{u"Url", Variant::String(u"")},
                  {u"UserWorkDir", Variant::Int(5)},
                  {u"DatasourceName", Variant::List({u"x"})}};
  control.LoadProperties(bag);
  EXPECT_EQ(Get(control, u"Url"), Variant::String(u""));
  EXPECT_EQ(Get(control, u"UserWorkDir"), Variant::String(u"5"));
  EXPECT_EQ(Get(control, u"DatasourceName"), Variant::String(u""));  // unconvertible: default
}

TEST(ControlProperties, UserIsSanitizedOnWrite) {
  CQSFileTransferCtrl control(nullptr);
  struct Row {
    std::u16string written;
    std::u16string read;
  };
  const Row rows[] = {{u"a/b\\c", u"a_b_c"},
                      {u"..\\..\\x", u".._.._x"},
                      {u"//", u"__"},
                      {u"plain user", u"plain user"},
                      {u"", u""}};
  for (const Row& row : rows) {
    Put(control, u"User", row.written);
    EXPECT_EQ(Get(control, u"User"), Variant::String(row.read));
  }
}

TEST(ControlProperties, UrlReturnsExactlyWhatWasWritten) {
  CQSFileTransferCtrl control(nullptr);
  control.ResetProperties();
  for (std::u16string value : {std::u16string(u"https://h/p?q=1#f"), std::u16string(u""),
                               std::u16string(u" a/b\\c "), std::u16string(u"%s%d")}) {
    Put(control, u"Url", value);
    EXPECT_EQ(Get(control, u"Url"), Variant::String(value));
  }
}

TEST(ControlProperties, SaveWritesStampBasePropertiesThenTheFourInOrder) {
  CQSFileTransferCtrl control(nullptr);
  control.ResetProperties();
  Put(control, u"Url", u"u");
  Put(control, u"UserWorkDir", u"w");
  Put(control, u"User", u"x/y");
  Put(control, u"DatasourceName", u"d");
  MemoryBag bag;
  control.SaveProperties(bag);
  std::vector<std::u16string> names;
  for (const auto& [name, value] : bag.written) names.push_back(name);
  EXPECT_EQ(names,
            (std::vector<std::u16string>{u"_Version", u"_ExtentX", u"_ExtentY", u"_StockProps",
                                         u"Url", u"UserWorkDir", u"User", u"DatasourceName"}));
  ASSERT_EQ(bag.written.size(), 8u);
  EXPECT_EQ(bag.written[0].second, Variant::Int(0x00020002));
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(bag.written[i].second.type(), Variant::Type::kInt32);
  EXPECT_EQ(bag.written[4].second, Variant::String(u"u"));
  EXPECT_EQ(bag.written[5].second, Variant::String(u"w"));
  EXPECT_EQ(bag.written[6].second, Variant::String(u"x_y"));
  EXPECT_EQ(bag.written[7].second, Variant::String(u"d"));
}

TEST(ControlProperties, SavedValuesLoadBackIntoAnotherControl) {
  CQSFileTransferCtrl first(nullptr);
  first.ResetProperties();
  Put(first, u"Url", u"");
  Put(first, u"User", u"me");
  MemoryBag saved;
  first.SaveProperties(saved);

  CQSFileTransferCtrl second(nullptr);
  MemoryBag bag;
  bag.supplied = saved.written;
  second.LoadProperties(bag);
  EXPECT_EQ(Get(second, u"Url"), Variant::String(u""));
  EXPECT_EQ(Get(second, u"User"), Variant::String(u"me"));
  MemoryBag resaved;
  second.SaveProperties(resaved);
  EXPECT_EQ(resaved.written, saved.written);
}

class RecordingCanvas : public Canvas {
 public:
  void FillRectWhite(const Rect& r) override { ops.push_back({"fill", r}); }
  void Ellipse(const Rect& r) override { ops.push_back({"ellipse", r}); }
  struct Op {
    std::string what;
    Rect rect;
  };
  std::vector<Op> ops;
};

TEST(ControlDrawing, FillsWhiteThenDrawsTheInscribedEllipse) {
  CQSFileTransferCtrl control(nullptr);
  RecordingCanvas canvas;
  const Rect bounds{10, 20, 110, 70};
  control.Draw(canvas, bounds);
  ASSERT_EQ(canvas.ops.size(), 2u);
  EXPECT_EQ(canvas.ops[0].what, "fill");
  EXPECT_EQ(canvas.ops[1].what, "ellipse");
  for (const auto& op : canvas.ops) {
    EXPECT_EQ(op.rect.left, 10);
    EXPECT_EQ(op.rect.top, 20);
    EXPECT_EQ(op.rect.right, 110);
    EXPECT_EQ(op.rect.bottom, 70);
  }
}

TEST(ControlPage, IdentityComesFromTheSiteAtEveryCall) {
  auto site = std::make_shared<FixedSite>(PageIdentity{u"https://dms.example.test/app/page", 2});
  CQSFileTransferCtrl control(site);
  for (int i = 1; i <= 2; ++i) {
    ErrorOr<PageIdentity> page = control.GetPageUrlAndZone();
    ASSERT_TRUE(page.ok());
    EXPECT_EQ(page->url, u"https://dms.example.test/app/page");
    EXPECT_EQ(page->zone, 2u);
    EXPECT_EQ(site->asked, i);  // nothing cached
  }
}

TEST(ControlPage, FailsWithoutSiteOrWithoutPage) {
  CQSFileTransferCtrl no_site(nullptr);
  EXPECT_EQ(no_site.GetPageUrlAndZone().code(), hresult::kFail);
  CQSFileTransferCtrl no_page(std::make_shared<FixedSite>(std::nullopt));
  EXPECT_EQ(no_page.GetPageUrlAndZone().code(), hresult::kFail);
}

TEST(ControlLifecycle, ProcessStateIsLookedUpOnceForAllControls) {
  { CQSFileTransferCtrl a(nullptr); }
  CQSFileTransferCtrl b(nullptr);
  CQSFileTransferCtrl c(nullptr);
  EXPECT_EQ(ProcessStateLookupsForTesting(), 1);
}

TEST(ControlLifecycle, LocalMethodsAndPickersNeverOpenASession) {
  CQSFileTransferCtrl control(std::make_shared<FixedSite>(PageIdentity{u"http://127.0.0.1/p", 2}));
  control.ResetProperties();
  const Variant s = Variant::String(u"/tmp/qsft-none");
  struct Call {
    std::u16string_view name;
    std::vector<Variant> args;
  };
  const Call calls[] = {
      {u"FileExist", {s}},
      {u"FolderExist", {s}},
      {u"Open", {s}},
      {u"DeleteFile", {s}},
      {u"FileChanged", {s, s}},
      {u"UpdateFileTime", {s, s}},
      {u"SelectExportDir", {}},
      {u"SelectDownloadDir", {}},
      {u"SelectFiles", {}},
      {u"SelectFilesInFolder", {Variant::Bool(true)}},
      {u"SelectFile", {}},
      {u"LocateFile", {s}},
      {u"ChooseWorkDir", {}},
      {u"ChangeWorkDir", {}},
      {u"CheckWorkDir", {}},
      {u"FinishOperation", {}},
      {u"GetOperationScope", {}},
      {u"SetOperationScope", {s}},
      {u"GetTransferStatus", {Variant::Int(2)}},
      {u"CancelTransfer", {Variant::Int(2)}},
  };
  for (const Call& call : calls) {
    EXPECT_TRUE(control.Invoke(call.name, InvokeKind::kMethod, call.args).ok());
  }
  EXPECT_FALSE(control.session_open());
}

TEST(ControlLifecycle, PickersCancelledGiveTheirEmptyResults) {
  CQSFileTransferCtrl control(nullptr);
  auto call = [&](std::u16string_view name, std::vector<Variant> args = {}) {
    return control.Invoke(name, InvokeKind::kMethod, args).value;
  };
  EXPECT_EQ(call(u"SelectExportDir").as_string(), u"");
  EXPECT_EQ(call(u"SelectFile").as_string(), u"");
  EXPECT_EQ(call(u"LocateFile", {Variant::String(u"a.txt")}).as_string(), u"");
  EXPECT_EQ(call(u"SelectFiles"), Variant::Int(0));
  EXPECT_EQ(call(u"SelectFilesInFolder", {Variant::Bool(false)}), Variant::Int(0));
}

TEST(ControlLifecycle, TransferStartsRefuseNullArgumentsWithTheInvalidParameterText) {
  CQSFileTransferCtrl control(nullptr);
  const Variant invalid = MakeErrorResult(87);
  EXPECT_EQ(control
                .Invoke(u"StartFileDownload", InvokeKind::kMethod,
                        {Variant::Null(), Variant::String(u"/tmp/x")})
                .value,
            invalid);
  EXPECT_EQ(control
                .Invoke(u"StartFileUpload", InvokeKind::kMethod,
                        {Variant::String(u"u"), Variant::Bool(true), Variant::String(u"/tmp/x"),
                         Variant::Int(0)})
                .value,
            invalid);
  EXPECT_FALSE(control.session_open());
}

TEST(ControlLifecycle, DestroyingTheControlLetsGoOfItsTransfer) {
  RefPtr<TransferredFile> watcher;
  {
    CQSFileTransferCtrl control(nullptr);
    ControlTestAccess::current_transfer(control) = MakeRef<IdleTransfer>();
    watcher = ControlTestAccess::current_transfer(control);
  }
  // Only the watcher's reference is left: the transfer is alive and unchanged.
  ASSERT_TRUE(watcher);
  EXPECT_EQ(watcher->StatusText(), u"0|0|");
}

}  // namespace
}  // namespace qs
