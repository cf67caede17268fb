// A 1 GiB download: the body is streamed through one small buffer, so the process's peak
// resident size stays where it was, and the finished file carries its origin.
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>

#include "platform/extended_attributes.h"
#include "support/marked_file.h"
#include "support/peak_memory.h"
#include "transfer/download_fixture.h"

namespace qs {
namespace {

using qs::testing::ByteAt;
using qs::testing::kPeakMeasuresLiveMemory;
using qs::testing::Mark;
using qs::testing::PeakResidentKiB;
using qs::testing::WriteMarkedSparseFile;

using qs::testing::DownloadTest;

constexpr uint64_t kGiB = uint64_t{1} << 30;
// Whatever the process held before, a download may add this much at its peak, far below the
// file's size: buffers of the client, the server and the test, not the file.
constexpr uint64_t kAllowedGrowthKiB = 64 * 1024;

// Marks at a few offsets of an otherwise sparse file, so that a shifted or short copy shows.
constexpr Mark kMarks[] = {{0, 'A'}, {4095, 'B'}, {kGiB / 2 + 12345, 'C'}, {kGiB - 1, 'D'}};

TEST_F(DownloadTest, OneGibibyteArrivesWholeWithThePeakResidentSizeFlat) {
  ASSERT_TRUE(WriteMarkedSparseFile(root_ / "big.bin", kGiB, kMarks));
  const std::string url = server_->base_url() + "/download?file=big.bin";
  const auto target = target_dir_ / "big.bin";
  const auto before = PeakResidentKiB();
  ASSERT_TRUE(before.has_value());

  auto download = Make(url, target);
  ASSERT_EQ(download->RunHere(), TransferState::kDone) << ToUtf8(download->GetErrorText());

  const auto after = PeakResidentKiB();
  ASSERT_TRUE(after.has_value());
  if (kPeakMeasuresLiveMemory) {
    EXPECT_LT(*after - *before, kAllowedGrowthKiB)
        << "peak before " << *before << " KiB, after " << *after << " KiB";
  }
  EXPECT_EQ(download->GetBytesTransferred(), kGiB);
  ASSERT_EQ(std::filesystem::file_size(target), kGiB);
  for (const Mark& m : kMarks) EXPECT_EQ(ByteAt(target, m.offset), m.byte) << m.offset;
  EXPECT_EQ(ByteAt(target, 1), 0);

  auto origin = platform::GetExtendedAttribute(FromUtf8(target.string()), kOriginAttribute);
  std::filesystem::remove(target);
  if (!origin.ok() && origin.error().Is(ErrorCode::kNotSupported)) {
    GTEST_SKIP() << "the file system under " << target_dir_.path()
                 << " keeps no user extended attributes (tmpfs before Linux 6.6)";
  }
  ASSERT_TRUE(origin.ok()) << origin.code();
  EXPECT_EQ(*origin, url);
}

}  // namespace
}  // namespace qs
