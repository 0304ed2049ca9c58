// The updater parses its feed on the main loop: how long that takes for a
// typical appcast (20 items) and for the largest one it accepts (1 MiB).
#include <benchmark/benchmark.h>

#include <string>

#include "settings/appcast.h"

namespace {

std::string appcast(size_t minBytes) {
  std::string xml =
      R"(<?xml version="1.0" encoding="utf-8"?><rss version="2.0" )"
      R"(xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)";
  for (int i = 0; xml.size() < minBytes || i < 20; ++i) {
    const std::string v = "0." + std::to_string(i) + ".0";
    xml += "<item><title>Pilvo " + v + "</title><description><![CDATA[<p>Fixes and " +
           std::string(200, 'x') + "</p>]]></description><sparkle:version>" + v +
           "</sparkle:version><sparkle:releaseNotesLink>https://example.org/notes/" + v +
           "</sparkle:releaseNotesLink><enclosure url=\"https://example.org/pilvo-" + v +
           ".tar.gz\" length=\"123456\" type=\"application/gzip\"/></item>";
    if (minBytes == 0 && i == 19) break;
  }
  return xml + "</channel></rss>";
}

void parse(benchmark::State& state, const std::string& xml) {
  for (auto _ : state) {
    std::string error;
    auto items = pilvo::settings::parseAppcast(xml, &error);
    auto update = pilvo::settings::newestUpdate(*items, "0.1.0");
    benchmark::DoNotOptimize(update);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}

void BM_ParseTypicalAppcast(benchmark::State& state) { parse(state, appcast(0)); }
BENCHMARK(BM_ParseTypicalAppcast)->Unit(benchmark::kMicrosecond);

void BM_ParseLargestAcceptedAppcast(benchmark::State& state) {
  parse(state, appcast(1024 * 1024 - 4096));
}
BENCHMARK(BM_ParseLargestAcceptedAppcast)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
