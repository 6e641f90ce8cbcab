#include <benchmark/benchmark.h>

#include <vector>

#include "image/firmware_image.h"

namespace {

// The identity extraction descrambles a whole 64 KiB buffer.
void BM_DescrambleWholeBank(benchmark::State& state) {
  std::vector<uint8_t> buf(tavo::kBankSize);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<uint8_t>(i * 13);
  for (auto _ : state) {
    tavo::Descramble(buf.data(), static_cast<uint32_t>(buf.size()), 1);
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(buf.size()));
}
BENCHMARK(BM_DescrambleWholeBank);

// Staging the longest bank of the embedded image (bank 7, FC80h bytes).
void BM_StageLongestBank(benchmark::State& state) {
  const tavo::TFirmwareImage& image = tavo::EmbeddedImage();
  const unsigned bank = 7;
  std::vector<uint8_t> buf(tavo::kBankSize);
  for (auto _ : state) {
    image.StageBank(bank, buf.data());
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          image.Header().BankLength[bank]);
}
BENCHMARK(BM_StageLongestBank);

}  // namespace
