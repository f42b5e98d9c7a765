// Micro-benchmarks of the per-line work: one receive-time line, one header,
// one dump line at each instruction level, one application time per format,
// and one printed pair.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "hexline.h"
#include "input.h"
#include "numtext.h"

namespace caplat {

namespace {

const unsigned char* text(const char* s) {
  return reinterpret_cast<const unsigned char*>(s);
}

void ReceiveTimeLine(benchmark::State& state) {
  uint64_t ts;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Input::parse_hex_header(&ts, text("1700000000.124127038\n")));
  }
}
BENCHMARK(ReceiveTimeLine);

void PayloadHeader(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        Input::parse_payload_header(text("Decompressed payload (791 bytes)\n")));
  }
}
BENCHMARK(PayloadHeader);

const char dump_line[] = "00a0  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31\n";

void DumpLinePlain(benchmark::State& state) {
  Input input;
  for (auto _ : state) {
    input.remaining = 32;
    input.payload.clear();
    benchmark::DoNotOptimize(input.parse_payload(text(dump_line)));
  }
}
BENCHMARK(DumpLinePlain);

void DumpLineCanonical(benchmark::State& state) {
  auto level = static_cast<hexline::Level>(state.range(0));
  if (level > hexline::best_level()) {
    state.SkipWithError("not supported here");
    return;
  }
  hexline::use(level);
  unsigned char out[16];
  for (auto _ : state) benchmark::DoNotOptimize(hexline::decode(out, text(dump_line)));
  hexline::use(hexline::best_level());
}
BENCHMARK(DumpLineCanonical)->DenseRange(0, 3);

void ApplicationTime(benchmark::State& state) {
  static const char* const payloads[] = {
      "",
      "{\"channel\":\"trades\",\"data\":{\"time\":1700000000.123456789,\"side\":\"buy\"}}",
      "{\"e\":\"depthUpdate\",\"E\":1700000000123,\"s\":\"BTCUSDT\"}",
      "{\"type\":\"ticker\",\"ts\":\"1700000000123.456\",\"last\":\"36500.10\"}",
      "{\"type\":\"l2update\",\"product_id\":\"BTC-USD\",\"time\":\"2023-11-14T22:13:20.123456Z\"}",
  };
  auto mode = static_cast<Input::Mode>(state.range(0));
  uint64_t ts;
  for (auto _ : state)
    benchmark::DoNotOptimize(Input::parse_app_ts(&ts, text(payloads[mode]), mode));
}
BENCHMARK(ApplicationTime)->DenseRange(1, 4);

void FormatPair(benchmark::State& state) {
  char line[64];
  uint64_t application = 1700000000123000000;
  for (auto _ : state) {
    char* end = numtext::u64(line, application);
    *end++ = ' ';
    end = numtext::u64(end, application + 27000000);
    *end++ = ' ';
    end = numtext::latency(end, 27000000);
    benchmark::DoNotOptimize(end);
    ++application;
  }
}
BENCHMARK(FormatPair);

}  // namespace

}  // namespace caplat
