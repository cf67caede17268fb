#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/error_codes.h"
#include "control/control.h"
#include "control_test_support.h"

namespace qs {
namespace {

using testing::IdleTransfer;

class DispatchTest : public ::testing::Test {
 protected:
  InvokeResult Call(std::u16string_view name, std::vector<Variant> args = {}) {
    return control_.Invoke(name, InvokeKind::kMethod, args);
  }
  // Puts a transfer that never runs into the control's slot; returns it for inspection.
  TransferredFile* InstallTransfer() {
    auto& slot = ControlTestAccess::current_transfer(control_);
    slot = MakeRef<IdleTransfer>();
    return slot.get();
  }

  CQSFileTransferCtrl control_{nullptr};
};

TEST_F(DispatchTest, UnknownNamesAndNumbersAreRefused) {
  InvokeResult r = Call(u"NoSuchMethod");
  EXPECT_EQ(r.hresult, hresult::kUnknownName);
  EXPECT_FALSE(r.message.empty());
  EXPECT_EQ(control_.InvokeById(18, InvokeKind::kMethod, {}).hresult, hresult::kMemberNotFound);
}

TEST_F(DispatchTest, NamesAndNumbersReachTheSameEntry) {
  TransferredFile* transfer = InstallTransfer();
  EXPECT_TRUE(Call(u"canceltransfer", {Variant::Int(1)}).ok());
  EXPECT_TRUE(control_.InvokeById(20, InvokeKind::kMethod, {Variant::Int(1)}).ok());
  EXPECT_EQ(transfer->cancel_count(), 2);
  // The described names of entries 8 to 10 reach them as well as the short names do.
  for (std::u16string_view name : {u"ChooseWorkDir", u"chooseWorkDirWrapper",
                                   u"changeworkdirwrapper", u"CheckWorkDirWrapper"}) {
    InvokeResult r = Call(name);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.value, Variant::Bool(false));
  }
}

TEST_F(DispatchTest, WrongCountIsRefusedBeforeTheHandlerRuns) {
  TransferredFile* transfer = InstallTransfer();
  EXPECT_EQ(Call(u"CancelTransfer").hresult, hresult::kBadParamCount);
  EXPECT_EQ(Call(u"CancelTransfer", {Variant::Int(1), Variant::Int(2)}).hresult,
            hresult::kBadParamCount);
  EXPECT_EQ(transfer->cancel_count(), 0);
  EXPECT_EQ(Call(u"StartFileDownload", {Variant::String(u"x")}).hresult, hresult::kBadParamCount);
  EXPECT_EQ(Call(u"SelectFiles", {Variant::Int(0)}).hresult, hresult::kBadParamCount);
  EXPECT_EQ(Call(u"Url", {Variant::String(u"x")}).hresult, hresult::kBadParamCount);
}

TEST_F(DispatchTest, UnconvertibleArgumentsAreRefusedBeforeTheHandlerRuns) {
  TransferredFile* transfer = InstallTransfer();
  struct Row {
    const char* what;
    Variant ticket;
    uint32_t hresult;
  };
  const Row rows[] = {
      {"word", Variant::String(u"seven"), hresult::kTypeMismatch},
      {"list", Variant::List({u"1"}), hresult::kTypeMismatch},
      {"array", Variant::Array({Variant::Int(1)}), hresult::kTypeMismatch},
      {"null", Variant::Null(), hresult::kTypeMismatch},
      {"negative", Variant::Int(-1), hresult::kOverflow},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    InvokeResult r = Call(u"CancelTransfer", {row.ticket});
    EXPECT_EQ(r.hresult, row.hresult);
    EXPECT_NE(r.message.find(u"fileTicket"), std::u16string::npos);
  }
  EXPECT_EQ(transfer->cancel_count(), 0);
  // What a script host would convert is accepted.
  for (const Variant& ticket :
       {Variant::Int(3), Variant::String(u"4000000000"), Variant::Bool(true), Variant()}) {
    EXPECT_TRUE(Call(u"CancelTransfer", {ticket}).ok());
  }
  EXPECT_EQ(transfer->cancel_count(), 4);
}

TEST_F(DispatchTest, TheFirstUnconvertibleArgumentDecides) {
  InvokeResult r = Call(u"StartFileUpload", {Variant::String(u"u"), Variant::String(u"maybe"),
                                             Variant::List({}), Variant::Int(1)});
  EXPECT_EQ(r.hresult, hresult::kTypeMismatch);
  EXPECT_NE(r.message.find(u"firstFile"), std::u16string::npos);
}

TEST_F(DispatchTest, PropertiesAreReadByEveryKindButWrittenOnlyByPut) {
  ASSERT_TRUE(control_.Invoke(u"Url", InvokeKind::kPropertyPut, {Variant::String(u"u1")}).ok());
  EXPECT_EQ(control_.Invoke(u"Url", InvokeKind::kPropertyGet, {}).value, Variant::String(u"u1"));
  EXPECT_EQ(control_.Invoke(u"url", InvokeKind::kMethod, {}).value, Variant::String(u"u1"));
  EXPECT_EQ(control_.InvokeById(0, InvokeKind::kPropertyGet, {}).value, Variant::String(u"u1"));
  EXPECT_EQ(control_.Invoke(u"Url", InvokeKind::kPropertyPut, {}).hresult, hresult::kBadParamCount);
  EXPECT_EQ(
      control_.Invoke(u"FileExist", InvokeKind::kPropertyPut, {Variant::String(u"x")}).hresult,
      hresult::kMemberNotFound);
}

TEST_F(DispatchTest, PropertyWritesConvertTheValueToText) {
  struct Row {
    Variant value;
    uint32_t hresult;
    Variant read_back;
  };
  const Row rows[] = {
      {Variant::Int(12), 0, Variant::String(u"12")},
      {Variant::Bool(false), 0, Variant::String(u"0")},
      {Variant::Null(), 0, Variant::String(u"")},
      {Variant::String(u""), 0, Variant::String(u"")},
      {Variant::List({u"a"}), hresult::kTypeMismatch, Variant::String(u"")},
  };
  for (const Row& row : rows) {
    ASSERT_TRUE(
        control_.Invoke(u"DatasourceName", InvokeKind::kPropertyPut, {Variant::String(u"")}).ok());
    EXPECT_EQ(control_.Invoke(u"DatasourceName", InvokeKind::kPropertyPut, {row.value}).hresult,
              row.hresult);
    EXPECT_EQ(control_.Invoke(u"DatasourceName", InvokeKind::kPropertyGet, {}).value,
              row.read_back);
  }
  // A refused write leaves the previous value.
  ASSERT_TRUE(control_.Invoke(u"User", InvokeKind::kPropertyPut, {Variant::String(u"kept")}).ok());
  EXPECT_FALSE(control_.Invoke(u"User", InvokeKind::kPropertyPut, {Variant::Array({})}).ok());
  EXPECT_EQ(control_.Invoke(u"User", InvokeKind::kPropertyGet, {}).value, Variant::String(u"kept"));
}

TEST_F(DispatchTest, StatusWithoutTransferIsEmptyAndReportsTheCurrentOneOtherwise) {
  InvokeResult r = Call(u"gettransferstatus", {Variant::Int(7)});
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(r.value.is_empty());
  EXPECT_TRUE(Call(u"CancelTransfer", {Variant::Int(7)}).ok());  // nothing to cancel

  TransferredFile* transfer = InstallTransfer();
  // Whatever ticket the page names, the answer concerns the current transfer.
  for (int32_t ticket : {0, transfer->ticket(), transfer->ticket() + 1}) {
    EXPECT_EQ(Call(u"GetTransferStatus", {Variant::Int(ticket)}).value, Variant::String(u"0|0|"));
  }
}

}  // namespace
}  // namespace qs
