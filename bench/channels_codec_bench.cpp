// Standard codec throughput: a typical method call and a 1 MiB byte list.
#include <benchmark/benchmark.h>

#include "channels/standard_codec.h"

namespace {

using namespace pilvo::channels;

FlutterMethodCall typicalCall() {
  return {
      "showOverlay",
      makeMap({{"message", "You have been switching a lot. Time for a short break?"},
               {"state", "nudge"},
               {"durationSeconds", 30},
               {"score", 72.5},
               {"visible", true},
               {"options", Value(ValueList{Value("Yes"), Value("Later"), Value("Dismiss")})},
               {"apps", Value(ValueList{
                            Value(ValueList{Value("org.gnome.TextEditor"), Value("Text Editor")}),
                            Value(ValueList{Value("firefox-esr"), Value("Firefox ESR")})})}})};
}

void BM_EncodeTypicalCall(benchmark::State& state) {
  const FlutterMethodCall call = typicalCall();
  size_t bytes = 0;
  for (auto _ : state) {
    Bytes out = encodeMethodCall(call);
    bytes += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_EncodeTypicalCall);

void BM_DecodeTypicalCall(benchmark::State& state) {
  const Bytes in = encodeMethodCall(typicalCall());
  for (auto _ : state) {
    auto call = decodeMethodCall(in);
    benchmark::DoNotOptimize(call.value->arguments);
  }
  state.SetBytesProcessed(static_cast<int64_t>(in.size() * state.iterations()));
}
BENCHMARK(BM_DecodeTypicalCall);

void BM_EncodeByteList1MiB(benchmark::State& state) {
  const Value list(Bytes(1 << 20, 0x5a));
  for (auto _ : state) {
    Bytes out = encodeMessage(list);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) << 20);
}
BENCHMARK(BM_EncodeByteList1MiB);

void BM_DecodeByteList1MiB(benchmark::State& state) {
  const Bytes in = encodeMessage(Value(Bytes(1 << 20, 0x5a)));
  for (auto _ : state) {
    auto value = decodeMessage(in);
    benchmark::DoNotOptimize(value.value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) << 20);
}
BENCHMARK(BM_DecodeByteList1MiB);

}  // namespace

BENCHMARK_MAIN();
