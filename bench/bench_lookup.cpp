// Random reads: N random (namespace, id) lookups, each returning the file's bytes, from one archive of
// the corpus. quillmarsh's reader over the plain file and over a memory mapping, against libzip
// finding the same files by name in a zip of the corpus, and against the limit: an in-memory map of
// every entry's location, one pread and one decompression per lookup. Page cache warm throughout.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zstd.h>

#include <filesystem>
#include <unordered_map>

#include "corpus.hpp"
#include "quillmarsh/dat/archive.hpp"

#ifdef QUILLMARSH_BENCH_HAVE_LIBZIP
#include <zip.h>
#endif

namespace quillmarsh::bench {
namespace {

constexpr std::size_t LOOKUPS = 10000;

struct Key {
  std::string namespace_;
  std::uint32_t file_id;
  std::string zip_name;
};

struct Fixture {
  std::filesystem::path qma;
  std::filesystem::path zip;
  std::vector<Key> keys;  // LOOKUPS random files of the corpus
  std::uint64_t bytes_read = 0;
};

// Archives are written once per corpus size and kept in the work directory.
const Fixture& fixture() {
  static const Fixture fx = [] {
    Fixture f;
    const std::uint32_t n = corpus_files_from_env();
    const auto files = generate_corpus({n});
    f.qma = bench_work_dir() / ("lookup-" + std::to_string(n) + ".qma");
    f.zip = bench_work_dir() / ("lookup-" + std::to_string(n) + ".zip");
    if (!std::filesystem::exists(f.qma)) {
      const auto temp = f.qma.string() + ".tmp";
      auto writer = dat::QmaStreamWriter::create(temp);
      (void)writer->set_compression_workers(2);
      (void)writer->set_write_buffer_size(1 << 20);
      for (const auto& file : files) (void)writer->add(file.namespace_, file.file_id, file.type_id, file.data);
      if (std::move(*writer).finish()) std::filesystem::rename(temp, f.qma);
    }
#ifdef QUILLMARSH_BENCH_HAVE_LIBZIP
    if (!std::filesystem::exists(f.zip)) {
      const auto temp = f.zip.string() + ".tmp";
      int error = 0;
      zip_t* za = zip_open(temp.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
      for (const auto& file : files) {
        zip_source_t* src = zip_source_buffer(za, file.data.data(), file.data.size(), 0);
        zip_file_add(za, corpus_relative_path(file).c_str(), src, ZIP_FL_ENC_UTF_8);
      }
      if (zip_close(za) == 0) std::filesystem::rename(temp, f.zip);
    }
#endif
    std::uint64_t state = 0x5EEDULL;
    for (std::size_t i = 0; i < LOOKUPS; ++i) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      const auto& file = files[(state >> 33) % files.size()];
      f.keys.push_back({file.namespace_, file.file_id, corpus_relative_path(file)});
      f.bytes_read += file.data.size();
    }
    return f;
  }();
  return fx;
}

void report(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(fixture().keys.size() * state.iterations()));
  state.SetBytesProcessed(static_cast<std::int64_t>(fixture().bytes_read * state.iterations()));
}

void lookups(benchmark::State& state, const dat::QmaReader& reader) {
  for (auto _ : state) {
    for (const auto& key : fixture().keys) {
      auto data = reader.get_file_in_namespace(key.namespace_, key.file_id);
      if (!data) {
        state.SkipWithError("lookup failed");
        return;
      }
      benchmark::DoNotOptimize(data->data());
    }
  }
  report(state);
}

void BM_Lookup_Qma_File(benchmark::State& state) {
  auto reader = dat::QmaReader::open(fixture().qma);
  if (!reader) return state.SkipWithError("open failed");
  lookups(state, *reader);
}
BENCHMARK(BM_Lookup_Qma_File)->Unit(benchmark::kMillisecond);

void BM_Lookup_Qma_Mapped(benchmark::State& state) {
  auto reader = dat::QmaReader::open_mapped(fixture().qma);
  if (!reader) return state.SkipWithError("open failed");
  lookups(state, *reader);
}
BENCHMARK(BM_Lookup_Qma_Mapped)->Unit(benchmark::kMillisecond);

// The limit: every entry's location in a hash map (built outside the timed region), then per lookup
// one pread of the stored bytes into a reused buffer and one decompression with a reused context into
// the owned result.
void BM_Lookup_Limit(benchmark::State& state) {
  struct Location {
    std::uint64_t offset;
    std::uint32_t size, comp_size;
    bool compressed;
  };
  std::unordered_map<std::string, Location> map;
  {
    auto reader = dat::QmaReader::open(fixture().qma);
    if (!reader) return state.SkipWithError("open failed");
    for (std::uint32_t i = 0; i < reader->header().entry_count; ++i) {
      const auto e = reader->entry_at(i).value();
      std::string key(e.namespace_.label());
      key.append(reinterpret_cast<const char*>(&e.file_id), 4);
      map.emplace(std::move(key), Location{e.offset, e.size, e.comp_size, e.compressed()});
    }
  }
  std::vector<std::string> keys;
  for (const auto& k : fixture().keys) {
    keys.push_back(k.namespace_);
    keys.back().append(reinterpret_cast<const char*>(&k.file_id), 4);
  }
  const int fd = ::open(fixture().qma.c_str(), O_RDONLY | O_CLOEXEC);
  ZSTD_DCtx* dctx = ZSTD_createDCtx();
  Bytes stored;
  for (auto _ : state) {
    for (const auto& key : keys) {
      const Location& loc = map.find(key)->second;
      stored.resize(loc.comp_size);
      if (::pread(fd, stored.data(), loc.comp_size, static_cast<off_t>(loc.offset)) != loc.comp_size) {
        state.SkipWithError("pread failed");
        break;
      }
      if (!loc.compressed) {
        Bytes out(stored.begin(), stored.end());
        benchmark::DoNotOptimize(out.data());
        continue;
      }
      Bytes out(loc.size);
      const std::size_t n = ZSTD_decompressDCtx(dctx, out.data(), out.size(), stored.data(), stored.size());
      if (ZSTD_isError(n)) state.SkipWithError("decompression failed");
      benchmark::DoNotOptimize(out.data());
    }
  }
  ZSTD_freeDCtx(dctx);
  ::close(fd);
  report(state);
}
BENCHMARK(BM_Lookup_Limit)->Unit(benchmark::kMillisecond);

#ifdef QUILLMARSH_BENCH_HAVE_LIBZIP
// libzip: find by name (zip_stat), open by index, read the whole file into an owned buffer.
void BM_Lookup_Libzip(benchmark::State& state) {
  int error = 0;
  zip_t* za = zip_open(fixture().zip.c_str(), ZIP_RDONLY, &error);
  if (za == nullptr) return state.SkipWithError("zip_open failed");
  for (auto _ : state) {
    for (const auto& key : fixture().keys) {
      zip_stat_t st;
      if (zip_stat(za, key.zip_name.c_str(), 0, &st) != 0) {
        state.SkipWithError("zip_stat failed");
        break;
      }
      zip_file_t* zf = zip_fopen_index(za, st.index, 0);
      Bytes out(st.size);
      const zip_int64_t n = zf == nullptr ? -1 : zip_fread(zf, out.data(), out.size());
      if (zf != nullptr) zip_fclose(zf);
      if (n != static_cast<zip_int64_t>(st.size)) {
        state.SkipWithError("zip_fread failed");
        break;
      }
      benchmark::DoNotOptimize(out.data());
    }
  }
  zip_discard(za);
  report(state);
}
BENCHMARK(BM_Lookup_Libzip)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
}  // namespace quillmarsh::bench

BENCHMARK_MAIN();
