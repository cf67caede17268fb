#include <gtest/gtest.h>

#include <set>
#include <string>

#include "control/method_table.h"

namespace qs {
namespace {

TEST(MethodTable, HoldsTwentyEightEntriesWithDistinctNumbersAndNames) {
  auto entries = MethodTable::Entries();
  ASSERT_EQ(entries.size(), 28u);
  std::set<int32_t> ids;
  std::set<std::u16string> names;
  int properties = 0;
  for (const MethodEntry& e : entries) {
    ids.insert(e.dispid);
    names.insert(std::u16string(e.name));
    ASSERT_NE(e.call, nullptr);
    EXPECT_EQ(e.put != nullptr, e.is_property());
    if (e.is_property()) {
      ++properties;
      EXPECT_TRUE(e.params.empty());
      EXPECT_EQ(e.result, ValueType::kString);
    }
  }
  EXPECT_EQ(ids.size(), 28u);
  EXPECT_EQ(names.size(), 28u);
  EXPECT_EQ(properties, 4);
}

TEST(MethodTable, NumbersNamesAndSignaturesAreThePublishedOnes) {
  using enum ValueType;
  struct Row {
    int32_t dispid;
    std::u16string_view name;
    std::u16string_view described;
    std::vector<std::pair<std::u16string_view, ValueType>> params;
    ValueType result;
  };
  const Row rows[] = {
      {3, u"Open", u"Open", {{u"file", kString}}, kNone},
      {2, u"DeleteFile", u"DeleteFile", {{u"absName", kString}}, kNone},
      {5, u"SelectExportDir", u"selectExportDir", {}, kString},
      {12, u"SelectDownloadDir", u"selectDownloadDir", {}, kString},
      {8, u"ChooseWorkDir", u"chooseWorkDirWrapper", {}, kBool},
      {9, u"ChangeWorkDir", u"changeWorkDirWrapper", {}, kBool},
      {10, u"CheckWorkDir", u"checkWorkDirWrapper", {}, kBool},
      {7, u"FileExist", u"FileExist", {{u"absName", kString}}, kBool},
      {13,
       u"FileChanged",
       u"FileChanged",
       {{u"absName", kString}, {u"updateTime", kString}},
       kBool},
      {14,
       u"UpdateFileTime",
       u"UpdateFileTime",
       {{u"absName", kString}, {u"updateTime", kString}},
       kNone},
      {0, u"Url", u"Url", {}, kString},
      {1, u"UserWorkDir", u"UserWorkDir", {}, kString},
      {4, u"DatasourceName", u"DatasourceName", {}, kString},
      {29, u"SelectFilesInFolder", u"selectFilesInFolder", {{u"recursively", kBool}}, kVariant},
      {11, u"SelectFiles", u"selectFiles", {}, kVariant},
      {15, u"GetFileSizes", u"GetFileSizes", {{u"files", kVariant}}, kVariant},
      {16,
       u"StartFileUpload",
       u"StartFileUpload",
       {{u"url", kString}, {u"firstFile", kBool}, {u"fileName", kString}, {u"chunkSize", kUInt32}},
       kVariant},
      {17,
       u"StartFileDownload",
       u"StartFileDownload",
       {{u"Url", kString}, {u"filePath", kString}},
       kVariant},
      {19, u"GetTransferStatus", u"GetTransferStatus", {{u"fileTicket", kUInt32}}, kVariant},
      {20, u"CancelTransfer", u"CancelTransfer", {{u"fileTicket", kUInt32}}, kNone},
      {6, u"User", u"User", {}, kString},
      {32,
       u"SetLanguage",
       u"SetLanguage",
       {{u"language", kString}, {u"resourceVersion", kString}, {u"resourceUrl", kString}},
       kNone},
      {31, u"SelectFile", u"selectFile", {}, kString},
      {33, u"LocateFile", u"locateFile", {{u"filePath", kString}}, kString},
      {34, u"FinishOperation", u"FinishOperation", {}, kNone},
      {35, u"GetOperationScope", u"GetOperationScope", {}, kString},
      {36, u"SetOperationScope", u"SetOperationScope", {{u"scopeId", kString}}, kNone},
      {37, u"FolderExist", u"FolderExist", {{u"absName", kString}}, kBool},
  };
  auto entries = MethodTable::Entries();
  ASSERT_EQ(std::size(rows), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const Row& row = rows[i];
    const MethodEntry& e = entries[i];
    SCOPED_TRACE(row.dispid);
    EXPECT_EQ(e.dispid, row.dispid);
    EXPECT_EQ(e.name, row.name);
    EXPECT_EQ(e.described_name, row.described);
    EXPECT_EQ(e.result, row.result);
    ASSERT_EQ(e.params.size(), row.params.size());
    for (size_t p = 0; p < row.params.size(); ++p) {
      EXPECT_EQ(e.params[p].name, row.params[p].first);
      EXPECT_EQ(e.params[p].type, row.params[p].second);
    }
  }
}

TEST(MethodTable, NamesResolveWhateverTheirCase) {
  struct Row {
    std::u16string_view asked;
    int32_t dispid;
  };
  const Row rows[] = {
      {u"gettransferstatus", 19},
      {u"GETTRANSFERSTATUS", 19},
      {u"selectfiles", 11},
      {u"chooseWorkDirWrapper", 8},
      {u"CHOOSEWORKDIRWRAPPER", 8},
      {u"ChooseWorkDir", 8},
      {u"changeworkdirwrapper", 9},
      {u"checkWorkDirWrapper", 10},
      {u"checkworkdir", 10},
      {u"url", 0},
      {u"URL", 0},
      {u"user", 6},
      {u"selectExportDir", 5},
      {u"LOCATEFILE", 33},
      {u"folderexist", 37},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.asked.begin(), row.asked.end()));
    const MethodEntry* e = MethodTable::FindByName(row.asked);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->dispid, row.dispid);
  }
}

TEST(MethodTable, OnlyWholeNamesResolve) {
  for (std::u16string_view name : {u"", u"GetTransferStatu", u"GetTransferStatusX", u"Wrapper",
                                   u"chooseWorkDirWrappe", u"openWrapper", u" Url", u"Url "}) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    EXPECT_EQ(MethodTable::FindByName(name), nullptr);
  }
}

TEST(MethodTable, NumbersResolveAndZeroIsUrl) {
  ASSERT_NE(MethodTable::FindById(0), nullptr);
  EXPECT_EQ(MethodTable::FindById(0)->name, u"Url");
  EXPECT_EQ(MethodTable::FindById(37)->name, u"FolderExist");
  for (int32_t missing : {-1, 18, 21, 28, 30, 38, 1000}) {
    EXPECT_EQ(MethodTable::FindById(missing), nullptr) << missing;
  }
}

}  // namespace
}  // namespace qs
