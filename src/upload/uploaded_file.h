// UploadedFile: one local file sent to the server as a series of POST requests, one for each
// chunk of at most `chunk_size` bytes, in order, over one connection.
//
// Chunk k covers the file bytes from (k-1)*chunk_size on; every chunk but the last holds
// exactly chunk_size bytes. The request of chunk k is
//   POST <url path and query> chunkIdx=k&offset=<bytes accepted so far>[&start=true]
//        [&checkin=<the local path, UrlEncode'd>]
// with the chunk's bytes as its body: "start=true" on the first chunk when the page marked the
// file as the first of a batch, "checkin" on the last chunk. An empty file still sends one
// request (chunk 1, offset 0, checkin, empty body). Each accepted chunk's answer becomes the
// transfer's text, so the page reads the server's last answer in the status.
//
// Memory: the file is streamed through one 4096-byte block into the open request; a chunk is
// never held as a whole, whatever its size. The file stays open for the whole run, shared for
// reading only, and is read only up to the size it had when it was opened: a file that shrinks
// meanwhile fails the upload instead of leaving its last chunk unfinished.
//
// Progress: the byte count rises after every block to the accepted bytes plus those written
// into the current chunk, and drops back to the accepted bytes when a chunk must be sent again.
// A cancel takes effect before the next block, and wakes the worker wherever it waits (an open
// request, an answer, a 202 pause); the transfer then ends as cancelled (kDone for the page), and
// a chunk half sent is never completed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "transfer/transferred_file.h"
#include "upload/http_upload_request.h"

namespace qs {

// The block the file is read in.
inline constexpr size_t kUploadBlockSize = 4096;

class UploadedFile : public TransferredFile {
 public:
  // `url` is absolute and resolved against the page; "?" (or "&" when it already has a query)
  // is appended for the chunk parameters. `local_path` is the page's text, sent in "checkin";
  // `source_path` the file that is read, the form the access decision judged (empty: the
  // page's text). `chunk_size` is never 0.
  UploadedFile(std::shared_ptr<platform::HttpSession> session, std::u16string_view url,
               bool first_file, std::u16string local_path, uint32_t chunk_size,
               std::u16string source_path = {}, CredentialsPrompt prompt = {},
               Sleeper sleeper = {});

 protected:
  ~UploadedFile() override;
  TransferEnd Run() override;

 private:
  // The whole upload; true when the server accepted every chunk.
  bool Upload();
  // Reads the next block from `position`, never past `file_size` (0 bytes: nothing left).
  bool ReadBlock(int source, uint64_t file_size, uint64_t position, std::span<std::byte> block,
                 size_t& block_bytes);
  // Streams the file's blocks into the chunk requests, each chunk finished as it fills.
  bool SendBlocks(int source, uint64_t file_size, InternetConnectionHandle& connection,
                  const std::u16string& url_path, bool secure, HttpUploadRequest& request);
  // The one request of an empty file.
  bool SendEmptyFile(InternetConnectionHandle& connection, const std::u16string& url_path,
                     bool secure, HttpUploadRequest& request);
  // Sends `count` bytes of `data` from `start`; `remaining` file bytes follow them. Opens the
  // chunk requests and finishes them as their last byte goes in.
  bool WriteBlock(InternetConnectionHandle& connection, const std::u16string& url_path, bool secure,
                  const std::byte* data, uint32_t start, uint32_t count, int64_t remaining,
                  bool& resend_chunk, HttpUploadRequest& request);
  bool OpenChunk(InternetConnectionHandle& connection, const std::u16string& url_path, bool secure,
                 uint32_t index, uint32_t length, bool is_last, HttpUploadRequest& request);
  bool FinishChunk(InternetConnectionHandle& connection, bool& resend_chunk,
                   HttpUploadRequest& request);
  // Records the thread's last error as the failure of `operation`, and fails.
  bool FailWithLastError(const char* operation);

  const uint32_t chunk_size_;
  const bool first_file_;
  uint64_t confirmed_offset_ = 0;  // bytes the server accepted: the offset of the next chunk
  uint32_t chunk_bytes_ = 0;       // bytes written into the current chunk's request
  uint32_t next_chunk_index_ = 0;  // chunkIdx of the next chunk request
  const std::u16string source_path_;
  CredentialsPrompt prompt_;
  Sleeper sleeper_;
  std::optional<TransferEnd> failure_;  // how the upload failed, once it has
};

}  // namespace qs
