// Helpers shared by the control's tests: a recording canvas, a site with a fixed page, a
// property bag kept in memory, and access to the control's transfer slot.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "control/client_site.h"
#include "control/control.h"
#include "control/property_bag.h"
#include "dialogs/scripted_dialogs.h"
#include "transfer/ref_ptr.h"
#include "transfer/transferred_file.h"

namespace qs {

class ControlTestAccess {
 public:
  static RefPtr<TransferredFile>& current_transfer(CQSFileTransferCtrl& control) {
    return control.current_transfer_;
  }
};

namespace testing {

class FixedSite : public ClientSite {
 public:
  explicit FixedSite(std::optional<PageIdentity> page) : page_(std::move(page)) {}
  std::optional<PageIdentity> GetPageIdentity() override {
    ++asked;
    return page_;
  }
  int asked = 0;

 private:
  std::optional<PageIdentity> page_;
};

// A site with a fixed page (or none) whose dialogs answer from a script.
class ScriptedSite : public ClientSite {
 public:
  explicit ScriptedSite(std::optional<PageIdentity> page) : page_(std::move(page)) {}
  // A page at `url` among the trusted sites.
  explicit ScriptedSite(std::u16string url) : ScriptedSite(PageIdentity{std::move(url), 2}) {}
  std::optional<PageIdentity> GetPageIdentity() override { return page_; }
  platform::Dialogs* GetDialogs() override { return &dialogs; }
  platform::ScriptedDialogs dialogs;

 private:
  std::optional<PageIdentity> page_;
};

// Keeps what the control writes, in order, and answers reads from `supplied`.
class MemoryBag : public PropertyBag {
 public:
  std::optional<Variant> Read(std::u16string_view name) override {
    reads.emplace_back(name);
    for (const auto& [key, value] : supplied) {
      if (key == name) return value;
    }
    return std::nullopt;
  }
  void Write(std::u16string_view name, const Variant& value) override {
    written.emplace_back(std::u16string(name), value);
  }

  std::vector<std::pair<std::u16string, Variant>> supplied;
  std::vector<std::u16string> reads;
  std::vector<std::pair<std::u16string, Variant>> written;
};

// A transfer that is never started: it only carries a ticket, a state and a cancel counter.
class IdleTransfer : public TransferredFile {
 public:
  IdleTransfer() : TransferredFile(nullptr, u"http://127.0.0.1/x", u"/tmp/x") {}

 protected:
  TransferEnd Run() override { return TransferEnd::Done(); }
};

}  // namespace testing
}  // namespace qs
