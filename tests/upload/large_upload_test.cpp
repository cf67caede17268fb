// A 1 GiB upload in 4 MiB chunks: the file is streamed through one block, so the process's peak
// resident size stays where it was, and every chunk goes over one connection.
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "support/marked_file.h"
#include "support/peak_memory.h"
#include "upload_fixture.h"

namespace qs::testing {
namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr uint32_t kChunk = 4 * 1024 * 1024;
// Whatever the process held before, the upload may add this much at its peak, far below one
// chunk's size: buffers of the client, the server and the test, not the chunk or the file.
constexpr uint64_t kAllowedGrowthKiB = 3 * 1024;
// Marks at a few offsets of an otherwise sparse file, so that a shifted or short copy shows.
constexpr Mark kMarks[] = {
    {0, 'A'}, {kChunk - 1, 'B'}, {kChunk, 'C'}, {kGiB / 2 + 12345, 'D'}, {kGiB - 1, 'E'}};

TEST_F(UploadTest, OneGibibyteGoesUpInChunksOverOneConnectionWithThePeakResidentSizeFlat) {
  const auto path = local_.path() / "big.bin";
  ASSERT_TRUE(WriteMarkedSparseFile(path, kGiB, kMarks));
  const auto before = PeakResidentKiB();
  ASSERT_TRUE(before.has_value());

  auto upload = Make(Url("/up"), path, kChunk);
  ASSERT_EQ(upload->RunHere(), TransferState::kDone) << ToUtf8(upload->GetErrorText());

  const auto after = PeakResidentKiB();
  ASSERT_TRUE(after.has_value());
  if (kPeakMeasuresLiveMemory) {
    EXPECT_LT(*after - *before, kAllowedGrowthKiB)
        << "peak before " << *before << " KiB, after " << *after << " KiB";
  }
  EXPECT_EQ(ToUtf8(upload->StatusText()), "10|1073741824|OK 1073741824");
  const auto requests = server_->requests();
  ASSERT_EQ(requests.size(), kGiB / kChunk);
  std::set<uint64_t> connections;
  for (const auto& r : requests) {
    connections.insert(r.connection_id);
    EXPECT_EQ(r.body_size, kChunk);
  }
  EXPECT_EQ(connections.size(), 1u);

  const auto received = root_ / "big.bin";
  std::filesystem::remove(path);
  ASSERT_EQ(std::filesystem::file_size(received), kGiB);
  for (const Mark& m : kMarks) EXPECT_EQ(ByteAt(received, m.offset), m.byte) << m.offset;
  EXPECT_EQ(ByteAt(received, 1), 0);
  std::filesystem::remove(received);
}

}  // namespace
}  // namespace qs::testing
