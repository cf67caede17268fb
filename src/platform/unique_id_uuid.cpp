#include "platform/unique_id.h"

#include <uuid/uuid.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <random>

#include "base/text.h"

namespace qs::platform {

namespace {

constexpr size_t kUuidTextLength = 36;

bool IsUuidText(const char* text) {
  for (size_t i = 0; i < kUuidTextLength; ++i) {
    const char c = text[i];
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return text[kUuidTextLength] == '\0';
}

// The fallback: sixteen random bytes marked as a version-4, variant-1 UUID.
std::u16string RandomUuidText() {
  std::random_device device;
  std::seed_seq seed{
      device(), device(),
      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
  std::mt19937 generator(seed);
  std::array<uint8_t, 16> bytes{};
  for (auto& b : bytes) b = static_cast<uint8_t>(generator());
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
  static constexpr char kHex[] = "0123456789abcdef";
  std::u16string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += u'-';
    text += static_cast<char16_t>(kHex[bytes[i] >> 4]);
    text += static_cast<char16_t>(kHex[bytes[i] & 0x0F]);
  }
  return text;
}

}  // namespace

std::u16string NewUuidText() {
  uuid_t id;
  uuid_generate(id);
  std::array<char, kUuidTextLength + 1> text{};
  uuid_unparse_lower(id, text.data());
  if (!IsUuidText(text.data())) return RandomUuidText();
  return FromAscii(std::string_view(text.data(), kUuidTextLength));
}

}  // namespace qs::platform
