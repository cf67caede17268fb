#include "upload/upload_start.h"

#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "platform/file_descriptor.h"
#include "platform/final_path.h"
#include "platform/last_error.h"
#include "platform/read_file.h"
#include "transfer/error_text.h"
#include "transfer/session.h"
#include "transfer/transfer_slot.h"
#include "upload/uploaded_file.h"

namespace qs {

namespace {

// The longest final path the size is measured on, in characters.
constexpr size_t kMaxFinalPathLength = 259;

bool AskConsent(const UploadAccess& access, std::u16string_view path) {
  return access.ask_consent && access.ask_consent(path);
}

}  // namespace

Variant StartFileUpload(const UploadStarter& starter, std::optional<std::u16string_view> url,
                        bool first_file, std::optional<std::u16string_view> file_name,
                        uint32_t chunk_size) {
  if (!url || !file_name || chunk_size == 0) {
    return MakeErrorResult(ToUint(ErrorCode::kInvalidParameter));
  }
  std::u16string absolute_url;
  if (const uint32_t code = ResolveRequestUrl(starter.page_url, *url, absolute_url); code != 0) {
    return MakeErrorResult(code);
  }

  std::u16string qualified;
  const bool allowed = starter.access.check && starter.access.check(*file_name, &qualified);
  if (allowed) {
    // A grant from a picker or from GetFileSizes serves one upload.
    if (starter.access.revoke) starter.access.revoke(*file_name);
  } else if (!AskConsent(starter.access, qualified.empty() ? *file_name : qualified)) {
    return MakeErrorResult(ToUint(ErrorCode::kAccessDenied));
  }

  if (!EnsureSession(starter.session)) return MakeErrorResult(kLastErrorCode);
  return StartTransfer(starter.current,
                       MakeRef<UploadedFile>(starter.session.handle(), absolute_url, first_file,
                                             std::u16string(*file_name), chunk_size,
                                             std::move(qualified), starter.prompt));
}

Variant GetFileSizes(const UploadAccess& access, const Variant& files, const ElementText& text_of) {
  std::vector<std::u16string> paths;
  if (files.type() == Variant::Type::kStringList) {
    paths = files.as_list();
  } else if (files.type() != Variant::Type::kArray) {
    return Variant();
  }
  const size_t count =
      files.type() == Variant::Type::kArray ? files.as_array().size() : paths.size();
  std::vector<std::u16string> sizes;
  sizes.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    std::u16string path;
    if (files.type() == Variant::Type::kArray) {
      std::optional<std::u16string> text =
          text_of ? text_of(files.as_array()[i]) : std::optional<std::u16string>();
      if (!text) return Variant::String(std::u16string(kExceptionText));
      path = std::move(*text);
    } else {
      path = paths[i];
    }

    std::u16string qualified;
    const bool allowed = access.check && access.check(path, &qualified);
    if (!allowed) {
      if (!AskConsent(access, qualified.empty() ? path : qualified)) {
        return MakeErrorResult(ToUint(ErrorCode::kAccessDenied));
      }
      if (access.grant) access.grant(path);
    }
    const uint64_t size = GetLocalFileSize(qualified.empty() ? path : qualified);
    if (size == kInvalidFileSize) return MakeErrorResult(kLastErrorCode);
    sizes.push_back(FromAscii(std::to_string(size)));
  }
  return Variant::List(std::move(sizes));
}

uint64_t GetLocalFileSize(std::u16string_view path) {
  if (path.empty()) {
    platform::SetLastError(ErrorCode::kPathNotFound);
    return kInvalidFileSize;
  }
  std::u16string measured(path);
  static const bool final_path_available = platform::FinalPathLookupAvailable();
  if (final_path_available) {
    auto opened = platform::OpenForSharedReading(path);
    if (!opened.ok()) return kInvalidFileSize;
    platform::ScopedFd file(*opened);
    auto final_path = platform::FinalPathOf(file.get());
    if (!final_path.ok()) return kInvalidFileSize;
    if (final_path->size() > kMaxFinalPathLength) {
      platform::SetLastError(ErrorCode::kFilenameExcedRange);
      return kInvalidFileSize;
    }
    measured = std::move(*final_path);
  }
  auto size = platform::FileSizeAt(measured);
  if (!size.ok()) return kInvalidFileSize;
  return *size;
}

}  // namespace qs
