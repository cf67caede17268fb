// The module's own text table: the default wording of every message and title.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "resources/text_ids.h"

namespace qs {

// The own text for `id`, or nothing for an id the module has no text for.
std::optional<std::u16string_view> OwnText(uint32_t id);

}  // namespace qs
