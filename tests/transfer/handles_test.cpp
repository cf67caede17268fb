#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "support/temp_dir.h"
#include "transfer/internet_handle.h"

namespace qs {
namespace {

using qs::testing::TempDir;
using qs::testing::WriteFile;

// Stands in for a shared handle: counts how often it was closed.
struct Closable {
  void Close() { ++closes; }
  bool closed() const { return closes > 0; }
  int closes = 0;
};

TEST(InternetHandleTest, SharedHandleIsClosedForEveryHolderWhenTheOwnerLetsGo) {
  auto session = std::make_shared<Closable>();
  std::shared_ptr<Closable> borrowed = session;  // what a worker holds
  {
    BasicInternetHandle<std::shared_ptr<Closable>> owner(std::move(session));
    EXPECT_TRUE(owner);
    EXPECT_FALSE(borrowed->closed());
  }
  EXPECT_EQ(borrowed->closes, 1);  // closed once, and the object is still valid
}

TEST(InternetHandleTest, CloseIsIdempotentAndResetClosesTheOldHandleFirst) {
  auto a = std::make_shared<Closable>();
  auto b = std::make_shared<Closable>();
  BasicInternetHandle<std::shared_ptr<Closable>> owner(a);
  owner.Reset(b);
  EXPECT_EQ(a->closes, 1);
  EXPECT_EQ(owner.get(), b.get());
  owner.Close();
  owner.Close();
  EXPECT_EQ(b->closes, 1);
  EXPECT_FALSE(owner);
  owner.Reset(nullptr);  // an empty handle may be taken, too
  EXPECT_FALSE(owner);
}

struct Request {
  explicit Request(int* destroyed) : destroyed_(destroyed) {}
  ~Request() { ++*destroyed_; }
  int* destroyed_;
};

TEST(InternetHandleTest, OwnedRequestEndsOnResetAndOnScopeExit) {
  int destroyed = 0;
  {
    BasicInternetHandle<std::unique_ptr<Request>> request(std::make_unique<Request>(&destroyed));
    request.Reset(std::make_unique<Request>(&destroyed));
    EXPECT_EQ(destroyed, 1);
  }
  EXPECT_EQ(destroyed, 2);
}

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

TEST(CFileHandleTest, ClosesOnScopeExitAndMovesOwnership) {
  TempDir dir;
  WriteFile(dir / "f", "x");
  const int fd = ::open((dir / "f").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  {
    CFileHandle outer;
    {
      CFileHandle inner(fd);
      outer = std::move(inner);
      EXPECT_FALSE(inner);
    }
    EXPECT_TRUE(IsOpen(fd));
    EXPECT_EQ(outer.get(), fd);
  }
  EXPECT_FALSE(IsOpen(fd));
}

TEST(AutoDeleteFileTest, DeletesUnlessReleased) {
  TempDir dir;
  const auto kept = dir / "kept.!incomplete";
  const auto dropped = dir / "dropped.!incomplete";
  WriteFile(kept, "data");
  WriteFile(dropped, "data");
  {
    AutoDeleteFile keep(kept);
    keep.Release();
    AutoDeleteFile drop(dropped);
  }
  EXPECT_TRUE(std::filesystem::exists(kept));
  EXPECT_FALSE(std::filesystem::exists(dropped));
}

TEST(AutoDeleteFileTest, DeletesAfterItsFileHandleWasClosedFirst) {
  TempDir dir;
  const auto temp = dir / "t.!incomplete";
  {
    AutoDeleteFile guard(temp);  // declared first, destroyed last
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    CFileHandle file(fd);
    ASSERT_EQ(::write(file.get(), "abc", 3), 3);
    file.Close();
  }
  EXPECT_FALSE(std::filesystem::exists(temp));
}

TEST(AutoDeleteFileTest, MissingFileOrADirectoryOfThatNameIsLeftAlone) {
  TempDir dir;
  { AutoDeleteFile missing(dir / "never-created"); }
  std::filesystem::create_directory(dir / "d");
  { AutoDeleteFile guard(dir / "d"); }
  EXPECT_TRUE(std::filesystem::is_directory(dir / "d"));
}

}  // namespace
}  // namespace qs
