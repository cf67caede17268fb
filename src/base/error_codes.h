// Platform error codes as the page sees them.
//
// Pages compare these numbers, so they keep the numbering of the platform the web client was
// first written for. Grouped by origin; never renumber, only add. Every code listed here has a
// message text (SystemErrorMessage); the switch there has no default so that a code added here
// without a text is a compiler warning.
#pragma once

#include <cstdint>

namespace qs {

enum class ErrorCode : uint32_t {
  // Success.
  kSuccess = 0,

  // Files and the operating system.
  kFileNotFound = 2,
  kPathNotFound = 3,
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
  kInvalidHandle = 6,
  kNotEnoughMemory = 8,
  kOutOfMemory = 14,
  kWriteProtect = 19,
  kNotSameDevice = 17,
  kSharingViolation = 32,
  kLockViolation = 33,
  kHandleEof = 38,
  kNotSupported = 50,
  kFileExists = 80,
  kInvalidParameter = 87,
  kBrokenPipe = 109,
  kDiskFull = 112,
  kInsufficientBuffer = 122,
  kInvalidName = 123,
  kDirNotEmpty = 145,
  kBusy = 170,
  kAlreadyExists = 183,
  kFilenameExcedRange = 206,
  kFileTooLarge = 223,
  kMoreData = 234,
  kNoMoreItems = 259,
  kDirectory = 267,
  kNoAssociation = 1155,
  kIoDevice = 1117,
  kCancelled = 1223,
  kRegistryCorrupt = 1015,
  kRegistryIoFailed = 1016,
  kKeyDeleted = 1018,
  kCantResolveFilename = 1921,

  // The HTTP client.
  kInternetOutOfHandles = 12001,
  kInternetTimeout = 12002,
  kInternetExtendedError = 12003,
  kInternetInternalError = 12004,
  kInternetInvalidUrl = 12005,
  kInternetUnrecognizedScheme = 12006,
  kInternetNameNotResolved = 12007,
  kInternetIncorrectPassword = 12014,
  kInternetOperationCancelled = 12017,
  kInternetIncorrectHandleState = 12019,
  kInternetCannotConnect = 12029,
  kInternetConnectionAborted = 12030,
  kInternetConnectionReset = 12031,
  kInternetForceRetry = 12032,
  kInternetInvalidProxyRequest = 12033,
  kInternetSecCertDateInvalid = 12037,
  kInternetSecCertCnInvalid = 12038,
  kInternetClientAuthCertNeeded = 12044,
  kInternetInvalidCa = 12045,
  kInternetSecCertRevoked = 12170,
  kInternetSecurityChannelError = 12157,
  kInternetSecInvalidCert = 12169,
  kHttpHeaderNotFound = 12150,
  kHttpInvalidServerResponse = 12152,
  kHttpInvalidHeader = 12153,
  kHttpRedirectFailed = 12156,
  kHttpNotRedirected = 12160,
};

constexpr uint32_t ToUint(ErrorCode code) { return static_cast<uint32_t>(code); }

// Result codes of the component model, as script hosts report them.
namespace hresult {
constexpr uint32_t kOk = 0;
constexpr uint32_t kFail = 0x80004005;
constexpr uint32_t kOutOfMemory = 0x8007000E;
constexpr uint32_t kInvalidArg = 0x80070057;
constexpr uint32_t kUnknownName = 0x80020006;
constexpr uint32_t kBadParamCount = 0x8002000E;
constexpr uint32_t kTypeMismatch = 0x80020005;
constexpr uint32_t kMemberNotFound = 0x80020003;
constexpr uint32_t kOverflow = 0x8002000A;  // an argument outside its type's range
constexpr uint32_t kNoInterface = 0x80004002;
constexpr uint32_t kNotImpl = 0x80004001;
// The platform code `code` as a component-model result (the usual FACILITY_WIN32 wrapping).
constexpr uint32_t FromWin32(uint32_t code) {
  return code == 0 ? 0 : (code & 0xFFFF) | 0x80070000u;
}
}  // namespace hresult

}  // namespace qs
