// The configuration store on a bad day: another process holds its write lock, or the file is
// damaged. Downloads that depend on the working directory, and those into a picked folder, keep
// working; a damaged store is never rewritten.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "faults/fault_fixture.h"

namespace qs::testing {
namespace {

// A second process (the sqlite3 shell) that holds the store's write lock from Acquire until
// Release or its destruction.
class StoreLockHolder {
 public:
  explicit StoreLockHolder(const fs::path& db) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      execlp("sqlite3", "sqlite3", "-batch", db.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~StoreLockHolder() {
    if (to_ >= 0) close(to_);  // the shell ends at the end of its input, rolling back
    if (from_ >= 0) close(from_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  StoreLockHolder(const StoreLockHolder&) = delete;
  StoreLockHolder& operator=(const StoreLockHolder&) = delete;

  // True once the other process holds the lock.
  bool Acquire() { return Send("BEGIN IMMEDIATE;\nSELECT 'held';\n") && Expect("held"); }
  bool Release() { return Send("ROLLBACK;\nSELECT 'free';\n") && Expect("free"); }

 private:
  bool Send(const std::string& text) {
    return to_ >= 0 && write(to_, text.data(), text.size()) == ssize_t(text.size());
  }
  bool Expect(const std::string& word) {
    std::string got;
    char c;
    while (got.size() < 256 && read(from_, &c, 1) == 1) {
      if (c == '\n') return got == word;
      got += c;
    }
    return false;
  }

  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
};

class StoreFaultTest : public FaultTest {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    Serve("doc.bin", Pattern(30000, 5));
  }
  // A control of datasource DS whose working directory is the default in the safe location.
  std::unique_ptr<CQSFileTransferCtrl> WorkDirControl(const std::u16string& ds) {
    auto control = MakeControl();
    Put(*control, u"DatasourceName", ds);
    Put(*control, u"User", u"alice");
    Put(*control, u"UserWorkDir", u"%LocalAppData%\\Quillstone\\WebWorkDir\\%Datasource%");
    return control;
  }
  static void Put(CQSFileTransferCtrl& c, std::u16string_view name, std::u16string value) {
    ASSERT_TRUE(c.Invoke(name, InvokeKind::kPropertyPut, {Variant::String(std::move(value))}).ok());
  }
  fs::path WorkDir(const std::string& ds) const {
    return dir_.path() / "data/Quillstone/WebWorkDir" / ds;
  }
  fs::path Store() const { return dir_.path() / "config/quillstone/registry.db"; }
};

TEST_F(StoreFaultTest, DownloadsGoOnWhileAnotherProcessHoldsTheStoresWriteLock) {
  auto control = WorkDirControl(u"DS1");
  ASSERT_EQ(Call(*control, u"CheckWorkDir"), Variant::Bool(true));  // creates and remembers it
  ASSERT_TRUE(fs::exists(Store()));

  StoreLockHolder holder(Store());
  ASSERT_TRUE(holder.Acquire());
  // Reading the remembered directory does not wait for the other process.
  ASSERT_EQ(Download(*control, "doc.bin", WorkDir("DS1") / "doc.bin").type(),
            Variant::Type::kInt32);
  EXPECT_EQ(FinalStatus(*control), "10|30000|");
  EXPECT_TRUE(ReadFile(WorkDir("DS1") / "doc.bin") == Pattern(30000, 5));
  // Nor does a download into a picked folder.
  ASSERT_EQ(Download(*control_, "doc.bin", downloads_ / "doc.bin").type(), Variant::Type::kInt32);
  EXPECT_EQ(FinalStatus(*control_), "10|30000|");

  // Once the lock is given back, remembering a new working directory works again.
  ASSERT_TRUE(holder.Release());
  auto other = WorkDirControl(u"DS2");
  EXPECT_EQ(Call(*other, u"CheckWorkDir"), Variant::Bool(true));
}

TEST_F(StoreFaultTest, ADamagedStoreIsNeverRewrittenAndPickedFoldersStillWork) {
  const std::string garbage = Pattern(8192, 6);
  WriteFile(Store(), garbage);
  auto control = WorkDirControl(u"DS1");
  const Variant checked = Call(*control, u"CheckWorkDir");
  EXPECT_TRUE(checked.type() == Variant::Type::kBool) << int(checked.type());
  ASSERT_EQ(Download(*control_, "doc.bin", downloads_ / "doc.bin").type(), Variant::Type::kInt32);
  EXPECT_EQ(FinalStatus(*control_), "10|30000|");
  EXPECT_TRUE(ReadFile(downloads_ / "doc.bin") == Pattern(30000, 5));
  EXPECT_TRUE(ReadFile(Store()) == garbage) << "the damaged store was changed";
}

}  // namespace
}  // namespace qs::testing
