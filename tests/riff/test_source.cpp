// The source file read by stream position: the exclusion list mapping, the read cache and
// its window, the size limits and what lies past the end of the stream.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fixtures/avi_builder.h"
#include "riff/source.h"

namespace {

using rv::Bytes;

// File byte at position pos: distinct for every position below 251.
uint8_t FileByte(uint32_t pos) { return static_cast<uint8_t>(pos % 251); }

Bytes FileBytes(std::initializer_list<uint32_t> positions) {
  Bytes b;
  for (uint32_t p : positions) b.push_back(FileByte(p));
  return b;
}

Bytes FileRange(uint32_t from, uint32_t count) {
  Bytes b;
  for (uint32_t i = 0; i < count; ++i) b.push_back(FileByte(from + i));
  return b;
}

class SourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Open(1000);
  }
  void TearDown() override {
    rv::CloseSource();
    rv::ClearExclusions();
    rv::SetCacheSize(rv::kDefaultCacheSize);
    rv::ResetReadCache();
  }

  void Open(uint32_t size) {
    rv::CloseSource();
    Bytes content(size);
    for (uint32_t i = 0; i < size; ++i) content[i] = FileByte(i);
    path_ = dir_.Write("source.bin", content);
    ASSERT_TRUE(rv::OpenSource(path_));
    ASSERT_EQ(rv::Source().size, size);
    rv::ClearExclusions();
    rv::ResetReadCache();
  }

  void Exclude(std::vector<rv::Exclusion> entries) {
    rv::Exclusions() = std::move(entries);
    rv::ResetReadCache();
  }

  Bytes Read(uint32_t p, uint32_t n) {
    Bytes out;
    EXPECT_TRUE(rv::ReadSource(p, n, out)) << "read of " << n << " at " << p;
    EXPECT_EQ(out.size(), n);
    return out;
  }

  rvt::TempDir dir_{"source"};
  std::string path_;
};

TEST_F(SourceTest, OpenTakesTheSizeAndFailsOnAMissingFile) {
  EXPECT_TRUE(rv::SourceIsOpen());
  EXPECT_FALSE(rv::Source().tooLarge);
  rv::CloseSource();
  EXPECT_FALSE(rv::SourceIsOpen());
  EXPECT_FALSE(rv::OpenSource(dir_.File("missing.avi")));
  EXPECT_FALSE(rv::SourceIsOpen());
  EXPECT_EQ(rv::Source().size, 1000u) << "a failed open leaves the size as it was";
}

TEST_F(SourceTest, WithoutExclusionsStreamAndFilePositionsAreEqual) {
  EXPECT_EQ(Read(0, 16), FileRange(0, 16));
  EXPECT_EQ(Read(500, 100), FileRange(500, 100));
  EXPECT_EQ(Read(999, 1), FileRange(999, 1));
  for (uint32_t p : {0u, 1u, 500u, 999u}) EXPECT_EQ(rv::StreamToFile(p), p);
  EXPECT_EQ(rv::StreamSize(), 1000u);
}

TEST_F(SourceTest, OneExclusionLeavesItsBytesOutOfTheStream) {
  Exclude({{100, 10}});
  EXPECT_EQ(rv::StreamToFile(99), 99u);
  EXPECT_EQ(rv::StreamToFile(100), 110u);
  EXPECT_EQ(rv::StreamToFile(500), 510u);
  EXPECT_EQ(rv::StreamSize(), 990u);

  EXPECT_EQ(Read(98, 4), FileBytes({98, 99, 110, 111}));
  // The same read again, now with a window that starts elsewhere.
  ASSERT_EQ(Read(0, 8), FileRange(0, 8));
  EXPECT_EQ(Read(98, 4), FileBytes({98, 99, 110, 111}));
  EXPECT_EQ(Read(100, 3), FileBytes({110, 111, 112}));
}

TEST_F(SourceTest, TwoExclusionsMapPositionsAroundBothFragments) {
  Exclude({{100, 10}, {200, 5}});
  EXPECT_EQ(rv::StreamToFile(189), 199u);
  EXPECT_EQ(rv::StreamToFile(190), 205u);
  EXPECT_EQ(rv::StreamToFile(99), 99u);
  EXPECT_EQ(rv::StreamToFile(100), 110u);
  EXPECT_EQ(rv::StreamToFile(600), 615u);
  EXPECT_EQ(rv::StreamSize(), 985u);

  EXPECT_EQ(Read(189, 2), FileBytes({199, 205}));
  EXPECT_EQ(Read(190, 1), FileBytes({205}));
  // One window across both fragments.
  Bytes expected = FileRange(95, 5);
  rvt::AppendBytes(expected, FileRange(110, 90));
  rvt::AppendBytes(expected, FileRange(205, 5));
  rv::ResetReadCache();
  EXPECT_EQ(Read(95, 100), expected);
}

TEST_F(SourceTest, SmallWindowsSkipFragmentsThatStartInsideThem) {
  rv::SetCacheSize(64);
  Exclude({{100, 10}, {120, 10}});
  Bytes expected = FileRange(90, 10);
  rvt::AppendBytes(expected, FileRange(110, 10));
  rvt::AppendBytes(expected, FileRange(130, 10));
  EXPECT_EQ(Read(90, 30), expected);
  // A window that starts inside the gap between the fragments.
  EXPECT_EQ(Read(105, 10), rvt::Concat({FileRange(115, 5), FileRange(130, 5)}));
  // A fragment at the very start of the file.
  Exclude({{0, 4}});
  EXPECT_EQ(rv::StreamToFile(0), 4u);
  EXPECT_EQ(Read(0, 4), FileRange(4, 4));
}

TEST_F(SourceTest, ExclusionThatReachesTheEndOfFileEndsTheStreamThere) {
  Exclude({{990, 10}});
  EXPECT_EQ(rv::StreamSize(), 990u);
  Bytes expected = FileRange(980, 10);
  expected.resize(20, 0);
  EXPECT_EQ(Read(980, 20), expected);
}

TEST_F(SourceTest, RequestInsideTheWindowIsServedFromMemory) {
  ASSERT_EQ(Read(500, 16), FileRange(500, 16));
  const uint64_t reads = rv::Cache().fileReads;
  EXPECT_GT(reads, 0u);
  EXPECT_EQ(Read(600, 100), FileRange(600, 100));
  EXPECT_EQ(Read(500, 1), FileRange(500, 1));
  EXPECT_EQ(Read(999, 1), FileRange(999, 1));
  EXPECT_EQ(rv::Cache().fileReads, reads) << "requests inside the window touched the file";
  EXPECT_EQ(rv::Cache().start, 500u);

  // A request that starts before the window refills from its own start.
  EXPECT_EQ(Read(499, 2), FileRange(499, 2));
  EXPECT_GT(rv::Cache().fileReads, reads);
  EXPECT_EQ(rv::Cache().start, 499u);
}

TEST_F(SourceTest, RequestRunningPastTheWindowRefillsFromItsStart) {
  rv::SetCacheSize(64);
  rv::ResetReadCache();
  ASSERT_EQ(Read(0, 8), FileRange(0, 8));
  EXPECT_EQ(rv::Cache().start, 0u);
  EXPECT_EQ(rv::Cache().length, 64u);
  const uint64_t reads = rv::Cache().fileReads;
  EXPECT_EQ(Read(56, 8), FileRange(56, 8)) << "the last bytes of the window";
  EXPECT_EQ(rv::Cache().fileReads, reads);
  EXPECT_EQ(Read(60, 8), FileRange(60, 8));
  EXPECT_GT(rv::Cache().fileReads, reads);
  EXPECT_EQ(rv::Cache().start, 60u);
}

TEST_F(SourceTest, RequestOfTheCacheSizeSucceedsOneByteMoreFails) {
  rv::SetCacheSize(64);
  rv::ResetReadCache();
  Bytes out;
  EXPECT_TRUE(rv::ReadSource(10, 64, out));
  EXPECT_EQ(out, FileRange(10, 64));

  Bytes untouched{7, 7, 7};
  EXPECT_FALSE(rv::ReadSource(10, 65, untouched));
  EXPECT_EQ(untouched, (Bytes{7, 7, 7}));
  uint8_t raw[70];
  std::fill(std::begin(raw), std::end(raw), 0x5A);
  EXPECT_FALSE(rv::ReadSource(0, 65, raw));
  EXPECT_EQ(raw[0], 0x5A);
  EXPECT_TRUE(rv::ReadSource(0, 64, raw));
  EXPECT_EQ(Bytes(raw, raw + 64), FileRange(0, 64));
  EXPECT_EQ(raw[64], 0x5A) << "the pointer form writes exactly n bytes";
}

TEST_F(SourceTest, BytesPastTheEndOfTheStreamAreZeros) {
  rv::SetCacheSize(64);
  rv::ResetReadCache();
  // Fill the whole buffer with file bytes first, so stale bytes would show.
  ASSERT_EQ(Read(0, 64), FileRange(0, 64));
  Bytes expected = FileRange(980, 20);
  expected.resize(40, 0);
  EXPECT_EQ(Read(980, 40), expected);
  EXPECT_EQ(Read(1000, 16), Bytes(16, 0));
  EXPECT_EQ(Read(5000, 64), Bytes(64, 0));
  EXPECT_EQ(Read(0xFFFFFFF0u, 16), Bytes(16, 0));

  // Output that already held data: the part past the end is zeroed, not left as it was.
  Bytes reused(40, 0xEE);
  rv::ResetReadCache();
  ASSERT_TRUE(rv::ReadSource(980, 40, reused));
  EXPECT_EQ(reused, expected);
  uint8_t raw[40];
  std::fill(std::begin(raw), std::end(raw), 0xEE);
  ASSERT_TRUE(rv::ReadSource(990, 40, raw));
  EXPECT_EQ(Bytes(raw, raw + 40), rvt::Concat({FileRange(990, 10), Bytes(30, 0)}));
  // After the short window, a read inside the file is right again.
  EXPECT_EQ(Read(10, 20), FileRange(10, 20));
}

TEST_F(SourceTest, CacheStateFollowsResetAndInvalidate) {
  ASSERT_EQ(Read(100, 10), FileRange(100, 10));
  rv::InvalidateReadCache();
  EXPECT_EQ(rv::Cache().start, 0u);
  EXPECT_EQ(rv::Cache().length, 0u);
  EXPECT_EQ(rv::Cache().cursor, 0u);
  const uint64_t reads = rv::Cache().fileReads;
  EXPECT_EQ(Read(100, 10), FileRange(100, 10));
  EXPECT_GT(rv::Cache().fileReads, reads) << "an invalidated window must be refilled";

  rv::ResetReadCache();
  EXPECT_EQ(rv::Cache().length, 0u);
  EXPECT_TRUE(rv::Cache().buffer.empty()) << "a reset frees the buffer";
  EXPECT_EQ(Read(3, 5), FileRange(3, 5));

  rv::SetCacheSize(5 * rv::kCacheUnit);
  EXPECT_EQ(rv::Cache().size, 5120000u);
  EXPECT_EQ(Read(3, 5), FileRange(3, 5));
}

TEST(SourceSequential, ReadingAFileInOrderTouchesTheDiskAboutOncePerWindow) {
  // Chunk-sized requests one after another, as the scanner and the writer make them.
  rvt::TempDir dir("sequential");
  const uint32_t fileSize = 1'000'000;
  const std::string path = dir.Write("big.bin", rvt::Pattern(fileSize, 3));
  const Bytes content = rvt::ReadFile(path);
  ASSERT_TRUE(rv::OpenSource(path));
  const uint32_t window = 64 * 1024;
  rv::SetCacheSize(window);
  rv::ClearExclusions();
  rv::ResetReadCache();

  const uint64_t before = rv::Cache().fileReads;
  uint32_t pos = 0, step = 0;
  Bytes out;
  bool allMatch = true;
  while (pos < fileSize) {
    const uint32_t n = std::min<uint32_t>(8 + (step++ * 97) % 1000, fileSize - pos);
    ASSERT_TRUE(rv::ReadSource(pos, n, out));
    allMatch = allMatch && std::equal(out.begin(), out.end(), content.begin() + pos);
    pos += n;
  }
  const uint64_t reads = rv::Cache().fileReads - before;
  rv::CloseSource();
  rv::SetCacheSize(rv::kDefaultCacheSize);
  rv::ResetReadCache();

  EXPECT_TRUE(allMatch);
  const uint64_t windows = (fileSize + window - 1) / window;
  EXPECT_GE(reads, windows);
  // Each refill may lose up to one request's worth of the previous window; allow a second
  // read call per refill at the end of the file.
  EXPECT_LE(reads, 2 * (fileSize / (window - 1008) + 1)) << reads << " reads";
}

TEST(SourceLimits, FilesOfFourGibibytesOrMoreAreRefused) {
  rvt::TempDir dir("large");
  auto sparse = [&](const std::string& name, off_t size) {
    const std::string path = dir.File(name);
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0) return std::string();
    const bool ok = ::ftruncate(fd, size) == 0;
    ::close(fd);
    return ok ? path : std::string();
  };
  const std::string justBelow = sparse("below.avi", off_t{0xFFFFFFFF});
  const std::string exact = sparse("exact.avi", off_t{0x100000000});
  const std::string above = sparse("above.avi", off_t{0x100000001});
  if (justBelow.empty() || exact.empty() || above.empty())
    GTEST_SKIP() << "the file system refuses sparse files of 4 GiB";

  ASSERT_TRUE(rv::OpenSource(justBelow));
  EXPECT_FALSE(rv::Source().tooLarge);
  EXPECT_EQ(rv::Source().size, 0xFFFFFFFFu);
  rv::CloseSource();

  for (const std::string& path : {exact, above}) {
    EXPECT_FALSE(rv::OpenSource(path)) << path;
    EXPECT_TRUE(rv::Source().tooLarge) << path;
    EXPECT_FALSE(rv::SourceIsOpen());
    EXPECT_EQ(rv::Source().size, 0xFFFFFFFFu) << "a refused file leaves the size as it was";
  }
  ASSERT_TRUE(rv::OpenSource(justBelow));
  EXPECT_FALSE(rv::Source().tooLarge) << "a later open clears the flag";
  rv::CloseSource();
}

}  // namespace
