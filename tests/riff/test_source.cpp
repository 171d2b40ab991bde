// The source file read by stream position: the exclusion list mapping, the read cache and
// its window, the size limits and what lies past the end of the stream.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/avi_builder.h"
#include "riff/source.h"

namespace {

using rv::Bytes;

constexpr uint32_t kFileSize = 1000;
uint8_t FileByte(uint32_t pos) { return uint8_t(pos % 251); }  // distinct below 251

// The bytes of a list of file ranges: "95-99 110 z20" is file bytes 95 to 99, byte 110 and
// twenty zeros.
Bytes FileRanges(const std::string& text) {
  Bytes b;
  std::istringstream in(text);
  for (std::string t; in >> t;) {
    if (t[0] == 'z') {
      b.resize(b.size() + std::stoul(t.substr(1)), 0);
      continue;
    }
    const size_t dash = t.find('-');
    const uint32_t from = uint32_t(std::stoul(t.substr(0, dash)));
    const uint32_t to = dash == std::string::npos ? from : uint32_t(std::stoul(t.substr(dash + 1)));
    for (uint32_t p = from; p <= to; ++p) b.push_back(FileByte(p));
  }
  return b;
}

class SourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Bytes content(kFileSize);
    for (uint32_t i = 0; i < kFileSize; ++i) content[i] = FileByte(i);
    path_ = dir_.Write("source.bin", content);
    ASSERT_TRUE(rv::OpenSource(path_));
    rv::ClearExclusions();
    rv::ResetReadCache();
  }
  void TearDown() override {
    rv::CloseSource();
    rv::ClearExclusions();
    rv::SetCacheSize(rv::kDefaultCacheSize);
    rv::ResetReadCache();
  }
  static Bytes Read(uint32_t p, uint32_t n) {
    Bytes out;
    EXPECT_TRUE(rv::ReadSource(p, n, out)) << "read of " << n << " at " << p;
    return out;
  }
  rvt::TempDir dir_{"source"};
  std::string path_;
};

TEST_F(SourceTest, ExclusionsLeaveTheirBytesOutOfTheStreamAndZerosFollowItsEnd) {
  const struct {
    std::vector<rv::Exclusion> excluded;
    uint32_t cache, streamSize, pos, n;
    const char* file;  // the file bytes the read gives
  } cases[] = {
      {{}, 0, 1000, 500, 100, "500-599"},
      {{{100, 10}}, 0, 990, 98, 4, "98-99 110-111"},
      {{{100, 10}}, 0, 990, 100, 3, "110-112"},
      {{{100, 10}, {200, 5}}, 0, 985, 189, 2, "199 205"},
      {{{100, 10}, {200, 5}}, 0, 985, 95, 100, "95-99 110-199 205-209"},
      {{{100, 10}, {200, 5}}, 0, 985, 600, 1, "615"},
      // Small windows skip fragments that start inside them, or start between two.
      {{{100, 10}, {120, 10}}, 64, 980, 90, 30, "90-99 110-119 130-139"},
      {{{100, 10}, {120, 10}}, 64, 980, 105, 10, "115-119 130-134"},
      {{{0, 4}}, 64, 996, 0, 4, "4-7"},
      {{{990, 10}}, 0, 990, 980, 20, "980-989 z10"},
      {{}, 64, 1000, 980, 40, "980-999 z20"},
      {{}, 64, 1000, 1000, 16, "z16"},
      {{}, 64, 1000, 0xFFFFFFF0u, 16, "z16"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.pos) + "+" + std::to_string(c.n) + " cache " +
                 std::to_string(c.cache) + " -> " + c.file);
    rv::SetCacheSize(c.cache ? c.cache : rv::kDefaultCacheSize);
    rv::Exclusions() = c.excluded;
    rv::ResetReadCache();
    EXPECT_EQ(rv::StreamSize(), c.streamSize);
    const Bytes want = FileRanges(c.file);
    if (c.file[0] != 'z') {
      EXPECT_EQ(rv::StreamToFile(c.pos), std::stoul(c.file));
    }
    EXPECT_EQ(Read(c.pos, c.n), want);
    // Again with a full window that starts elsewhere, into memory that held other bytes:
    // stale bytes would show.
    ASSERT_EQ(Read(0, std::min(c.n, 64u)).size(), std::min(c.n, 64u));
    Bytes reused(c.n, 0xEE);
    ASSERT_TRUE(rv::ReadSource(c.pos, c.n, reused));
    EXPECT_EQ(reused, want);
    std::vector<uint8_t> raw(c.n + 1, 0xEE);
    ASSERT_TRUE(rv::ReadSource(c.pos, c.n, raw.data()));
    EXPECT_EQ(Bytes(raw.begin(), raw.end() - 1), want);
    EXPECT_EQ(raw.back(), 0xEE) << "the pointer form writes exactly n bytes";
  }
}

TEST_F(SourceTest, TheWindowServesRequestsInsideItAndRefillsFromARequestsStart) {
  rv::SetCacheSize(64);
  rv::ResetReadCache();
  // (position, length, whether the file is read, window start after it)
  const struct {
    uint32_t pos, n;
    bool fileRead;
    uint32_t start;
  } steps[] = {{500, 8, true, 500}, {556, 8, false, 500}, {500, 1, false, 500},
               {560, 8, true, 560}, {559, 2, true, 559}, {559, 64, false, 559},
               {100, 10, true, 100}};
  for (const auto& s : steps) {
    SCOPED_TRACE(std::to_string(s.pos) + "+" + std::to_string(s.n));
    const uint64_t reads = rv::Cache().fileReads;
    EXPECT_EQ(Read(s.pos, s.n), FileRanges(std::to_string(s.pos) + "-" +
                                           std::to_string(s.pos + s.n - 1)));
    EXPECT_EQ(rv::Cache().fileReads > reads, s.fileRead);
    EXPECT_EQ(rv::Cache().start, s.start);
  }
  // A request of the cache size succeeds; one byte more fails and leaves the output alone.
  Bytes untouched{7, 7, 7};
  EXPECT_FALSE(rv::ReadSource(10, 65, untouched));
  EXPECT_EQ(untouched, (Bytes{7, 7, 7}));
  uint8_t raw[2] = {0x5A, 0x5A};
  EXPECT_FALSE(rv::ReadSource(0, 65, raw));
  EXPECT_EQ(raw[0], 0x5A);

  rv::InvalidateReadCache();
  EXPECT_EQ(rv::Cache().length, 0u);
  const uint64_t reads = rv::Cache().fileReads;
  EXPECT_EQ(Read(100, 10), FileRanges("100-109"));
  EXPECT_GT(rv::Cache().fileReads, reads) << "an invalidated window must be refilled";
  rv::ResetReadCache();
  EXPECT_TRUE(rv::Cache().buffer.empty()) << "a reset frees the buffer";
  rv::SetCacheSize(5 * rv::kCacheUnit);
  EXPECT_EQ(rv::Cache().size, 5120000u);

  // A failed open leaves the size as it was.
  rv::CloseSource();
  EXPECT_FALSE(rv::OpenSource(dir_.File("missing.avi")));
  EXPECT_FALSE(rv::SourceIsOpen());
  EXPECT_EQ(rv::Source().size, kFileSize);
}

TEST(SourceSequential, ReadingAFileInOrderTouchesTheDiskAboutOncePerWindow) {
  rvt::TempDir dir("sequential");
  const uint32_t fileSize = 1'000'000, window = 64 * 1024;
  const std::string path = dir.Write("big.bin", rvt::Pattern(fileSize, 3));
  const Bytes content = rvt::ReadFile(path);
  ASSERT_TRUE(rv::OpenSource(path));
  rv::SetCacheSize(window);
  rv::ClearExclusions();
  rv::ResetReadCache();
  const uint64_t before = rv::Cache().fileReads;
  Bytes out;
  for (uint32_t pos = 0, step = 0; pos < fileSize;) {  // chunk-sized requests, as a scan makes
    const uint32_t n = std::min<uint32_t>(8 + (step++ * 97) % 1000, fileSize - pos);
    ASSERT_TRUE(rv::ReadSource(pos, n, out));
    ASSERT_TRUE(std::equal(out.begin(), out.end(), content.begin() + pos)) << pos;
    pos += n;
  }
  const uint64_t reads = rv::Cache().fileReads - before;
  rv::CloseSource();
  rv::SetCacheSize(rv::kDefaultCacheSize);
  rv::ResetReadCache();
  EXPECT_GE(reads, (fileSize + window - 1) / window);
  // Each refill may lose up to one request of the window before, and take a second read call.
  EXPECT_LE(reads, 2 * (fileSize / (window - 1008) + 1)) << reads << " reads";
}

TEST(SourceLimits, FilesOfFourGibibytesOrMoreAreRefused) {
  rvt::TempDir dir("large");
  auto sparse = [&](const std::string& name, off_t size) {
    const std::string path = dir.File(name);
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    const bool ok = fd >= 0 && ::ftruncate(fd, size) == 0;
    if (fd >= 0) ::close(fd);
    return ok ? path : std::string();
  };
  const std::string below = sparse("below.avi", off_t{0xFFFFFFFF});
  const std::string exact = sparse("exact.avi", off_t{0x100000000});
  const std::string above = sparse("above.avi", off_t{0x100000001});
  if (below.empty() || exact.empty() || above.empty())
    GTEST_SKIP() << "the file system refuses sparse files of 4 GiB";
  ASSERT_TRUE(rv::OpenSource(below));
  EXPECT_EQ(rv::Source().size, 0xFFFFFFFFu);
  rv::CloseSource();
  for (const std::string& path : {exact, above}) {
    EXPECT_FALSE(rv::OpenSource(path)) << path;
    EXPECT_TRUE(rv::Source().tooLarge) << path;
    EXPECT_EQ(rv::Source().size, 0xFFFFFFFFu) << "a refused file leaves the size as it was";
  }
  ASSERT_TRUE(rv::OpenSource(below));
  EXPECT_FALSE(rv::Source().tooLarge) << "a later open clears the flag";
  rv::CloseSource();
}

}  // namespace
