// Gathered writes without a server: blocks of any size, across several fillings of the buffer,
// reach the file whole and in order, and the file holds exactly what was written out.
#include "transfer/gathered_writes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "support/pattern.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

using qs::testing::Pattern;
using qs::testing::ReadFile;
using qs::testing::TempDir;

// Copies `bytes` into the gathered writes in blocks of the sizes in `blocks`, taken in turn.
void Gather(GatheredWrites& gathered, platform::StagedFile& file, const std::string& bytes,
            const std::vector<size_t>& blocks) {
  for (size_t at = 0, i = 0; at < bytes.size(); ++i) {
    auto room = gathered.Room(file, blocks[i % blocks.size()]);
    ASSERT_TRUE(room.ok());
    const size_t n = std::min(room->size(), bytes.size() - at);
    std::memcpy(room->data(), bytes.data() + at, n);
    gathered.Add(n);
    at += n;
  }
}

TEST(GatheredWritesTest, BlocksOfAnySizeReachTheFileWholeAndInOrder) {
  const std::vector<std::vector<size_t>> block_sizes = {
      {4096}, {1}, {4095, 4096, 1, 3000}, {4096, 4096, 4096, 2}, {8192}};
  for (const auto& blocks : block_sizes) {
    SCOPED_TRACE(blocks.front());
    TempDir dir;
    const auto target = dir / "t.bin";
    // Large enough to fill the buffer twice and leave a part.
    const std::string bytes = Pattern(2 * GatheredWrites::kCapacity + 12345, blocks.size());
    auto file = platform::StagedFile::Create(FromUtf8(target.string()), u".part");
    ASSERT_TRUE(file.ok());
    GatheredWrites gathered;
    Gather(gathered, *file, bytes, blocks);
    // What was written out so far is a prefix; the rest waits in the buffer.
    const std::string before_flush = ReadFile(dir / "t.bin.part");
    EXPECT_EQ(before_flush.size() + gathered.gathered(), bytes.size());
    EXPECT_TRUE(before_flush == bytes.substr(0, before_flush.size()));
    ASSERT_TRUE(gathered.Flush(*file).ok());
    EXPECT_EQ(gathered.gathered(), 0u);
    ASSERT_TRUE(gathered.Flush(*file).ok());  // nothing more to write
    EXPECT_EQ(file->written(), bytes.size());
    ASSERT_TRUE(file->Commit().ok());
    const std::string written = ReadFile(target);
    EXPECT_EQ(written.size(), bytes.size());
    EXPECT_TRUE(written == bytes);
  }
}

}  // namespace
}  // namespace qs
