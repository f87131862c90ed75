// Packing the corpus: quillmarsh's writer (inline compression and with workers) against the limit,
// zstd level 3 compressing the same files in memory with nothing written, and against libzip writing
// a zip of the same files in-process. Throughput is MB/s of input (bytes_per_second).
#include <benchmark/benchmark.h>
#include <zstd.h>

#include <filesystem>
#include <thread>

#include "corpus.hpp"
#include "quillmarsh/dat/archive.hpp"

#ifdef QUILLMARSH_BENCH_HAVE_LIBZIP
#include <zip.h>
#endif

namespace quillmarsh::bench {
namespace {

const std::vector<CorpusFile>& corpus() {
  static const std::vector<CorpusFile> files = generate_corpus({corpus_files_from_env()});
  return files;
}

void set_throughput(benchmark::State& state) {
  const auto bytes = corpus_bytes(corpus());
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
  state.counters["files"] = static_cast<double>(corpus().size());
  state.counters["input_MB"] = static_cast<double>(bytes) / 1e6;
}

// The limit: one reused level-3 context per thread compressing every file into one reused buffer;
// with range(0) threads, each takes every range(0)-th file. Two threads show what two cores give.
void BM_Pack_Limit_Zstd3(benchmark::State& state) {
  const auto& files = corpus();
  const auto threads = static_cast<std::size_t>(state.range(0));
  std::vector<std::uint64_t> stored(threads);
  auto compress_share = [&](std::size_t t) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, 3);
    Bytes out(ZSTD_compressBound(512 << 10));
    std::uint64_t total = 0;
    for (std::size_t i = t; i < files.size(); i += threads) {
      const auto& f = files[i];
      const std::size_t n = ZSTD_compress2(cctx, out.data(), out.size(), f.data.data(), f.data.size());
      total += ZSTD_isError(n) || n >= f.data.size() ? f.data.size() : n;
    }
    ZSTD_freeCCtx(cctx);
    stored[t] = total;
  };
  for (auto _ : state) {
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(compress_share, t);
    compress_share(0);
    for (auto& t : pool) t.join();
  }
  set_throughput(state);
  std::uint64_t total = 0;
  for (const auto s : stored) total += s;
  state.counters["output_MB"] = static_cast<double>(total) / 1e6;
}
BENCHMARK(BM_Pack_Limit_Zstd3)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// The writer, with range(0) compression workers (0: inline in add) and a write buffer of range(1)
// KiB (0: each blob written by its own add, the default). The input copies that `add` consumes are
// made outside the timed region.
void BM_Pack_Qma(benchmark::State& state) {
  const auto& files = corpus();
  const auto path = bench_work_dir() / "pack.qma";
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<Bytes> inputs;
    inputs.reserve(files.size());
    for (const auto& f : files) inputs.push_back(f.data);
    std::filesystem::remove(path);
    state.ResumeTiming();

    auto writer = dat::QmaStreamWriter::create(path);
    if (!writer || !writer->set_compression_workers(static_cast<unsigned>(state.range(0))) ||
        !writer->set_write_buffer_size(static_cast<std::size_t>(state.range(1)) << 10)) {
      state.SkipWithError("create failed");
      break;
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (!writer->add(files[i].namespace_, files[i].file_id, files[i].type_id, std::move(inputs[i]))) {
        state.SkipWithError("add failed");
        break;
      }
    }
    if (!std::move(*writer).finish()) state.SkipWithError("finish failed");
  }
  set_throughput(state);
  state.counters["output_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}
BENCHMARK(BM_Pack_Qma)
    ->ArgNames({"workers", "buffer_KiB"})
    ->Args({0, 0})
    ->Args({0, 1024})
    ->Args({1, 1024})
    ->Args({2, 1024})
    ->Args({2, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

#ifdef QUILLMARSH_BENCH_HAVE_LIBZIP
// libzip writing a zip of the same files (names "<namespace>/<ID>.bin"); range(0) picks the method:
// 0 deflate at its default level (what zip tools write), 1 zstd at level 3 where libzip supports it.
void BM_Pack_Libzip(benchmark::State& state) {
  const auto& files = corpus();
  const bool zstd = state.range(0) == 1;
#ifdef ZIP_CM_ZSTD
  if (zstd && zip_compression_method_supported(ZIP_CM_ZSTD, 1) == 0) {
    state.SkipWithError("this libzip cannot write zstd");
    return;
  }
#else
  if (zstd) {
    state.SkipWithError("this libzip cannot write zstd");
    return;
  }
#endif
  std::vector<std::string> names;
  for (const auto& f : files) names.push_back(corpus_relative_path(f));
  const auto path = bench_work_dir() / "pack.zip";
  for (auto _ : state) {
    int error = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (za == nullptr) {
      state.SkipWithError("zip_open failed");
      break;
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
      zip_source_t* src = zip_source_buffer(za, files[i].data.data(), files[i].data.size(), 0);
      const zip_int64_t index = zip_file_add(za, names[i].c_str(), src, ZIP_FL_ENC_UTF_8);
      if (index < 0) {
        zip_source_free(src);
        state.SkipWithError("zip_file_add failed");
        break;
      }
#ifdef ZIP_CM_ZSTD
      if (zstd) zip_set_file_compression(za, static_cast<zip_uint64_t>(index), ZIP_CM_ZSTD, 3);
#endif
    }
    // libzip compresses and writes everything here.
    if (zip_close(za) != 0) {
      state.SkipWithError("zip_close failed");
      zip_discard(za);
    }
  }
  set_throughput(state);
  state.counters["output_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}
BENCHMARK(BM_Pack_Libzip)
    ->ArgName("zstd")
    ->Arg(0)
#ifdef ZIP_CM_ZSTD
    ->Arg(1)
#endif
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
#endif

}  // namespace
}  // namespace quillmarsh::bench

BENCHMARK_MAIN();
