#include <gtest/gtest.h>

#include "transfer/internet_handle.h"

namespace qs {
namespace {

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

}  // namespace
}  // namespace qs
