// Named-property persistence between the control and its host.
//
// On load the host supplies values by name (a page: the parameters of the control's element);
// a property the host does not supply takes its default. On save the control writes every
// persistent property by name, in its fixed order.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/variant.h"

namespace qs {

class PropertyBag {
 public:
  virtual ~PropertyBag() = default;
  virtual std::optional<Variant> Read(std::u16string_view name) = 0;
  virtual void Write(std::u16string_view name, const Variant& value) = 0;
};

}  // namespace qs
