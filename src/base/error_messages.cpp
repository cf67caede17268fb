// The message table: one English text for every code in error_codes.h.
//
// Texts end in "\r\n" like the table texts pages have always received, so a page that strips or
// shows the line break keeps working. The switch has no default: a code added to ErrorCode
// without a text here is a compiler warning. Codes outside the list have no text.
#include "base/error.h"

namespace qs {

namespace {

const char16_t* MessageFor(ErrorCode code) {
  switch (code) {
    case ErrorCode::kSuccess: return u"The operation completed successfully.\r\n";

    case ErrorCode::kFileNotFound: return u"The system cannot find the file specified.\r\n";
    case ErrorCode::kPathNotFound: return u"The system cannot find the path specified.\r\n";
    case ErrorCode::kTooManyOpenFiles:
      return u"The system cannot open the file because too many files are open.\r\n";
    case ErrorCode::kAccessDenied: return u"Access is denied.\r\n";
    case ErrorCode::kInvalidHandle: return u"The handle is invalid.\r\n";
    case ErrorCode::kNotEnoughMemory:
      return u"Not enough memory is available to process this command.\r\n";
    case ErrorCode::kOutOfMemory:
      return u"Not enough memory is available to complete this operation.\r\n";
    case ErrorCode::kWriteProtect: return u"The media is write protected.\r\n";
    case ErrorCode::kNotSameDevice:
      return u"The system cannot move the file to a different disk drive.\r\n";
    case ErrorCode::kSharingViolation:
      return u"The process cannot access the file because it is being used by another process.\r\n";
    case ErrorCode::kLockViolation:
      return u"The process cannot access the file because another process has locked a portion of "
             u"the file.\r\n";
    case ErrorCode::kHandleEof: return u"Reached the end of the file.\r\n";
    case ErrorCode::kNotSupported: return u"The request is not supported.\r\n";
    case ErrorCode::kFileExists: return u"The file exists.\r\n";
    case ErrorCode::kInvalidParameter: return u"The parameter is incorrect.\r\n";
    case ErrorCode::kBrokenPipe: return u"The pipe has been ended.\r\n";
    case ErrorCode::kDiskFull: return u"There is not enough space on the disk.\r\n";
    case ErrorCode::kInsufficientBuffer:
      return u"The data area passed to a system call is too small.\r\n";
    case ErrorCode::kInvalidName:
      return u"The file name, directory name, or volume label syntax is incorrect.\r\n";
    case ErrorCode::kDirNotEmpty: return u"The directory is not empty.\r\n";
    case ErrorCode::kBusy: return u"The requested resource is in use.\r\n";
    case ErrorCode::kAlreadyExists:
      return u"Cannot create a file when that file already exists.\r\n";
    case ErrorCode::kFilenameExcedRange: return u"The file name or extension is too long.\r\n";
    case ErrorCode::kFileTooLarge:
      return u"The file size exceeds the limit allowed and cannot be saved.\r\n";
    case ErrorCode::kMoreData: return u"More data is available.\r\n";
    case ErrorCode::kNoMoreItems: return u"No more data is available.\r\n";
    case ErrorCode::kDirectory: return u"The directory name is invalid.\r\n";
    case ErrorCode::kNoAssociation:
      return u"No application is associated with the specified file for this operation.\r\n";
    case ErrorCode::kIoDevice:
      return u"The request could not be performed because of an I/O device error.\r\n";
    case ErrorCode::kCancelled: return u"The operation was canceled by the user.\r\n";
    case ErrorCode::kRegistryCorrupt:
      return u"The registry is corrupted. The structure of one of the files containing registry "
             u"data is corrupted, or the system's memory image of the file is corrupted, or the "
             u"file could not be recovered because the alternate copy or log was absent or "
             u"corrupted.\r\n";
    case ErrorCode::kRegistryIoFailed:
      return u"An I/O operation initiated by the registry failed unrecoverably. The registry could "
             u"not read in, or write out, or flush, one of the files that contain the system's "
             u"image of the registry.\r\n";
    case ErrorCode::kKeyDeleted:
      return u"Illegal operation attempted on a registry key that has been marked for "
             u"deletion.\r\n";
    case ErrorCode::kCantResolveFilename:
      return u"The name of the file cannot be resolved by the system.\r\n";

    case ErrorCode::kInternetOutOfHandles:
      return u"No more handles could be generated for the HTTP client.\r\n";
    case ErrorCode::kInternetTimeout: return u"The operation timed out.\r\n";
    case ErrorCode::kInternetExtendedError: return u"The server returned extended information.\r\n";
    case ErrorCode::kInternetInternalError:
      return u"An internal error occurred in the HTTP client.\r\n";
    case ErrorCode::kInternetInvalidUrl: return u"The URL is invalid.\r\n";
    case ErrorCode::kInternetUnrecognizedScheme:
      return u"The URL does not use a recognized protocol.\r\n";
    case ErrorCode::kInternetNameNotResolved:
      return u"The server name or address could not be resolved.\r\n";
    case ErrorCode::kInternetIncorrectPassword:
      return u"The request to connect and log on to the server failed.\r\n";
    case ErrorCode::kInternetOperationCancelled:
      return u"The operation was canceled, usually because the handle on which the request was "
             u"operating was closed before the operation completed.\r\n";
    case ErrorCode::kInternetIncorrectHandleState:
      return u"The operation requested cannot be carried out because the handle supplied is not in "
             u"the correct state.\r\n";
    case ErrorCode::kInternetCannotConnect:
      return u"A connection with the server could not be established.\r\n";
    case ErrorCode::kInternetConnectionAborted:
      return u"The connection with the server was terminated abnormally.\r\n";
    case ErrorCode::kInternetConnectionReset:
      return u"The connection with the server was reset.\r\n";
    case ErrorCode::kInternetForceRetry: return u"The request must be sent again.\r\n";
    case ErrorCode::kInternetInvalidProxyRequest:
      return u"The request to the proxy was invalid.\r\n";
    case ErrorCode::kInternetSecCertDateInvalid:
      return u"The date in the server's certificate is invalid or has expired.\r\n";
    case ErrorCode::kInternetSecCertCnInvalid:
      return u"The host name in the server's certificate is invalid or does not match.\r\n";
    case ErrorCode::kInternetClientAuthCertNeeded:
      return u"The server requested client authentication.\r\n";
    case ErrorCode::kInternetInvalidCa:
      return u"The server's certificate was issued by an authority that is not trusted.\r\n";
    case ErrorCode::kInternetSecCertRevoked:
      return u"The server's certificate has been revoked.\r\n";
    case ErrorCode::kInternetSecurityChannelError:
      return u"An error occurred in the secure channel support.\r\n";
    case ErrorCode::kInternetSecInvalidCert: return u"The server's certificate is invalid.\r\n";
    case ErrorCode::kHttpHeaderNotFound: return u"The requested header could not be located.\r\n";
    case ErrorCode::kHttpInvalidServerResponse:
      return u"The server response could not be parsed.\r\n";
    case ErrorCode::kHttpInvalidHeader:
      return u"The server returned an invalid or unrecognized response header.\r\n";
    case ErrorCode::kHttpRedirectFailed:
      return u"The redirection failed because either the scheme changed or all attempts made to "
             u"redirect failed.\r\n";
    case ErrorCode::kHttpNotRedirected: return u"The HTTP request was not redirected.\r\n";
  }
  return nullptr;
}

}  // namespace

std::optional<std::u16string> SystemErrorMessage(uint32_t code) {
  if (const char16_t* text = MessageFor(static_cast<ErrorCode>(code))) return std::u16string(text);
  return std::nullopt;
}

}  // namespace qs
