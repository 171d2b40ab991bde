// Sequential reads through the read cache: how often the source file is touched per MB,
// and how fast chunk headers and payloads are served.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "riff/source.h"

namespace {

std::string MakeFile(size_t mb) {
  std::string path = "/tmp/rivetta_bench_read_" + std::to_string(mb) + ".bin";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::vector<uint8_t> block(1 << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 31 + 7);
  for (size_t i = 0; i < mb; ++i) std::fwrite(block.data(), 1, block.size(), f);
  std::fclose(f);
  return path;
}

// Reads the file as the scanner and the writer do: an 8-byte header, then a payload of a few
// kilobytes, one after another.
void BM_SequentialChunks(benchmark::State& state) {
  const size_t mb = 64;
  static std::string path = MakeFile(mb);
  const uint32_t cacheUnits = uint32_t(state.range(0));
  rv::SetCacheSize(cacheUnits * rv::kCacheUnit);
  std::vector<uint8_t> payload(8192);
  uint64_t reads = 0, bytes = 0;
  for (auto _ : state) {
    rv::OpenSource(path);
    rv::ResetReadCache();
    rv::Cache().fileReads = 0;
    uint32_t p = 0, size = rv::Source().size;
    uint8_t head[8];
    while (p + 8 + 4000 <= size) {
      rv::ReadSource(p, 8, head);
      rv::ReadSource(p + 8, 4000, payload.data());
      p += 8 + 4000;
    }
    reads += rv::Cache().fileReads;
    bytes += size;
    rv::CloseSource();
  }
  state.counters["file_reads_per_MB"] = double(reads) / (double(bytes) / 1e6);
  state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_SequentialChunks)->Arg(2)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// One byte on per step with an 8-byte read each, as the byte search behind a broken link.
void BM_ByteSearch(benchmark::State& state) {
  static std::string path = MakeFile(16);
  rv::SetCacheSize(2 * rv::kCacheUnit);
  uint64_t steps = 0;
  for (auto _ : state) {
    rv::OpenSource(path);
    rv::ResetReadCache();
    uint8_t head[8];
    for (uint32_t p = 0; p + 8 <= rv::Source().size; ++p) {
      rv::ReadSource(p, 8, head);
      benchmark::DoNotOptimize(head);
      ++steps;
    }
    rv::CloseSource();
  }
  state.SetItemsProcessed(int64_t(steps));
}
BENCHMARK(BM_ByteSearch)->Unit(benchmark::kMillisecond);

}  // namespace
