// The source file read by stream position: the exclusion list mapping, the read cache and
// its window, the request size limit and what lies past the end of the stream. Every header
// read and scan serves its requests from one window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/engine_test.h"
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

class SourceTest : public rvt::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Bytes content(kFileSize);
    for (uint32_t i = 0; i < kFileSize; ++i) content[i] = FileByte(i);
    ASSERT_TRUE(rv::OpenSource(dir_.Write("source.bin", content)));
  }
  static Bytes Read(uint32_t p, uint32_t n) {
    Bytes out;
    EXPECT_TRUE(rv::ReadSource(p, n, out)) << "read of " << n << " at " << p;
    return out;
  }
};

TEST_F(SourceTest, ExclusionsLeaveTheirBytesOutOfTheStreamAndZerosFollowItsEnd) {
  const struct {
    std::vector<rv::Exclusion> excluded;
    uint32_t cache, streamSize, pos, n;
    const char* file;  // the file bytes the read gives
  } cases[] = {
      // clang-format off
      {{}, 0, 1000, 500, 100, "500-599"},
      {{{100, 10}}, 0, 990, 98, 4, "98-99 110-111"}, {{{100, 10}}, 0, 990, 100, 3, "110-112"},
      {{{100, 10}, {200, 5}}, 0, 985, 95, 100, "95-99 110-199 205-209"},
      // Small windows skip fragments that start inside them, or start between two.
      {{{100, 10}, {120, 10}}, 64, 980, 90, 30, "90-99 110-119 130-139"},
      {{{100, 10}, {120, 10}}, 64, 980, 105, 10, "115-119 130-134"},
      {{{0, 4}}, 64, 996, 0, 4, "4-7"},
      // Past the end of the stream: zeros, even near 2^32.
      {{{990, 10}}, 0, 990, 980, 20, "980-989 z10"}, {{}, 64, 1000, 980, 40, "980-999 z20"},
      {{}, 64, 1000, 0xFFFFFFF0u, 16, "z16"},
      // clang-format on
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

TEST_F(SourceTest, RequestsAreLimitedToTheWindowAndAnInvalidatedWindowIsRefilled) {
  rv::SetCacheSize(64);
  rv::ResetReadCache();
  EXPECT_EQ(Read(10, 64), FileRanges("10-73"));
  rv::InvalidateReadCache();
  const uint64_t reads = rv::Cache().fileReads;
  EXPECT_EQ(Read(20, 10), FileRanges("20-29"));
  EXPECT_GT(rv::Cache().fileReads, reads) << "an invalidated window must be refilled";
  // A request of the cache size succeeds; one byte more fails and leaves the output alone.
  Bytes untouched{7, 7, 7};
  EXPECT_FALSE(rv::ReadSource(10, 65, untouched));
  EXPECT_EQ(untouched, (Bytes{7, 7, 7}));
  uint8_t raw[2] = {0x5A, 0x5A};
  EXPECT_FALSE(rv::ReadSource(0, 65, raw));
  EXPECT_EQ(raw[0], 0x5A);
}

}  // namespace
