// Growth: archives of 1 K, 10 K, 100 K and 1 M small entries. Lookup cost (find, and find plus read)
// should grow with log2 of the entry count; reader open cost and reader memory should not grow at all;
// the writer's memory per entry should stay flat (the 60-byte index record plus the duplicate check).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>

#include "corpus.hpp"
#include "quillmarsh/dat/archive.hpp"

namespace quillmarsh::bench {
namespace {

constexpr const char* NS = "eor/portal";

std::uint32_t id_of(std::uint32_t i) { return 0x06000001U + 2 * i; }

Bytes payload(std::uint32_t i) {
  Bytes b(8);
  for (std::size_t k = 0; k < 8; ++k) b[k] = static_cast<std::uint8_t>(i >> (k % 4 * 8));
  return b;
}

// Writes an archive of `n` entries, added in a scattered order; returns heap bytes the writer held
// per entry just before finish.
double write_archive(const std::filesystem::path& path, std::uint32_t n) {
  const std::size_t before = heap_in_use();
  double per_entry = 0;
  {
    auto writer = dat::QmaStreamWriter::create(path);
    for (std::uint32_t k = 0; k < n; ++k) {
      const std::uint32_t i = static_cast<std::uint32_t>((std::uint64_t{k} * 7919) % n);
      (void)writer->add(NS, id_of(i), 0x06000000, payload(i));
    }
    per_entry = static_cast<double>(heap_in_use() - before) / n;
    (void)std::move(*writer).finish();
  }
  return per_entry;
}

// 7919 is prime and no n here is a multiple of it, so the scattered order above visits every index.
const std::filesystem::path& archive(std::uint32_t n) {
  static std::map<std::uint32_t, std::filesystem::path> paths;
  auto& path = paths[n];
  if (path.empty()) {
    path = bench_work_dir() / ("growth-" + std::to_string(n) + ".qma");
    if (!std::filesystem::exists(path)) {
      write_archive(path.string() + ".tmp", n);
      std::filesystem::rename(path.string() + ".tmp", path);
    }
  }
  return path;
}

std::vector<std::uint32_t> random_ids(std::uint32_t n) {
  std::vector<std::uint32_t> ids(4096);
  std::uint64_t s = 42;
  for (auto& id : ids) {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    id = id_of(static_cast<std::uint32_t>((s >> 33) % n));
  }
  return ids;
}

void BM_Growth_Write(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  const auto path = bench_work_dir() / "growth-write.qma";
  double per_entry = 0;
  for (auto _ : state) per_entry = write_archive(path, n);
  state.counters["writer_heap_B_per_entry"] = per_entry;
  state.SetItemsProcessed(static_cast<std::int64_t>(n) * state.iterations());
  std::filesystem::remove(path);
}

template <bool Mapped, bool Read>
void BM_Growth_Lookup(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  auto reader = Mapped ? dat::QmaReader::open_mapped(archive(n)) : dat::QmaReader::open(archive(n));
  if (!reader) return state.SkipWithError("open failed");
  const auto ids = random_ids(n);
  std::size_t k = 0;
  for (auto _ : state) {
    const std::uint32_t id = ids[k++ & 4095];
    if constexpr (Read) {
      auto data = reader->get_file_in_namespace(NS, id);
      if (!data) return state.SkipWithError("lookup failed");
      benchmark::DoNotOptimize(data->data());
    } else {
      auto entry = reader->find_entry_in_namespace(NS, id);
      if (!entry) return state.SkipWithError("lookup failed");
      benchmark::DoNotOptimize(entry->offset);
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

template <bool Mapped>
void BM_Growth_Open(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  const auto& path = archive(n);
  for (auto _ : state) {
    auto reader = Mapped ? dat::QmaReader::open_mapped(path) : dat::QmaReader::open(path);
    if (!reader) return state.SkipWithError("open failed");
    benchmark::DoNotOptimize(reader->header().entry_count);
  }
  const std::size_t before = heap_in_use();
  auto reader = Mapped ? dat::QmaReader::open_mapped(path) : dat::QmaReader::open(path);
  state.counters["reader_heap_B"] = static_cast<double>(heap_in_use() - before);
  // What lookups add: from a file, the ids of the first probes of each search, kept once read.
  if (!reader) return state.SkipWithError("open failed");
  for (const std::uint32_t id : random_ids(n)) benchmark::DoNotOptimize(reader->find_entry_in_namespace(NS, id));
  state.counters["reader_heap_after_lookups_B"] = static_cast<double>(heap_in_use() - before);
}

#define QM_GROWTH_SIZES ->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)
BENCHMARK(BM_Growth_Write) QM_GROWTH_SIZES->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Growth_Lookup<false, false>)->Name("BM_Growth_Find_File") QM_GROWTH_SIZES;
BENCHMARK(BM_Growth_Lookup<true, false>)->Name("BM_Growth_Find_Mapped") QM_GROWTH_SIZES;
BENCHMARK(BM_Growth_Lookup<false, true>)->Name("BM_Growth_Get_File") QM_GROWTH_SIZES;
BENCHMARK(BM_Growth_Lookup<true, true>)->Name("BM_Growth_Get_Mapped") QM_GROWTH_SIZES;
BENCHMARK(BM_Growth_Open<false>)->Name("BM_Growth_Open_File") QM_GROWTH_SIZES;
BENCHMARK(BM_Growth_Open<true>)->Name("BM_Growth_Open_Mapped") QM_GROWTH_SIZES;

}  // namespace
}  // namespace quillmarsh::bench

BENCHMARK_MAIN();
