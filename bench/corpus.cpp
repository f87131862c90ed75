#include "corpus.hpp"

#include <fmt/format.h>
#include <malloc.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <system_error>

#include "quillmarsh/common/splitmix64.hpp"

namespace quillmarsh::bench {

namespace {

// The seeded sequence, with the draws this generator needs.
class Random : public SplitMix64 {
 public:
  using SplitMix64::SplitMix64;
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  // Log-uniform between lo and hi, so small sizes are as common as large ones per octave.
  std::size_t log_uniform(std::size_t lo, std::size_t hi) {
    const double v = std::exp(std::log(static_cast<double>(lo)) + unit() * std::log(static_cast<double>(hi) / lo));
    return static_cast<std::size_t>(v);
  }
  void fill(std::uint8_t* out, std::size_t n) {
    while (n >= 8) {
      const std::uint64_t v = next();
      std::memcpy(out, &v, 8);
      out += 8;
      n -= 8;
    }
    const std::uint64_t v = next();
    std::memcpy(out, &v, n);
  }
};

void put_u32(Bytes& b, std::uint32_t v) {
  const std::uint8_t le[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                              static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  b.insert(b.end(), le, le + 4);
}

// Rows of 16 bytes: a running id, a small enum, a float from a short list, and a random word.
Bytes record(Random& random, std::size_t size) {
  static constexpr float floats[] = {0.0F, 1.0F, 0.5F, 2.5F, -1.0F, 0.25F, 10.0F, 1.5F};
  Bytes b;
  b.reserve(size + 16);
  const std::uint32_t base = random.below(1U << 24);
  for (std::uint32_t row = 0; b.size() < size; ++row) {
    put_u32(b, base + row);
    put_u32(b, random.below(6));
    std::uint32_t f = 0;
    std::memcpy(&f, &floats[random.below(8)], 4);
    put_u32(b, f);
    put_u32(b, static_cast<std::uint32_t>(random.next()));
  }
  b.resize(size);
  return b;
}

Bytes texture(Random& random, std::size_t size) {
  Bytes b(size);
  switch (random.below(10)) {
    case 0:
    case 1:
    case 2:  // noise: already compressed art
      random.fill(b.data(), size);
      break;
    case 3:
    case 4:  // flat blocks of a few colours
      for (std::size_t i = 0; i < size; i += 64) {
        const auto colour = static_cast<std::uint8_t>(random.below(4) * 60);
        std::memset(b.data() + i, colour, std::min<std::size_t>(64, size - i));
      }
      break;
    default: {  // a gradient whose low bits are noise
      const std::uint32_t row = 256 + random.below(768);
      for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t noise = random.next();
        for (std::size_t k = 0; k < 8 && i + k < size; ++k) {
          const std::size_t p = i + k;
          const auto smooth = static_cast<std::uint8_t>(((p % row) * 255 / row + p / row) & 0xF8);
          b[p] = static_cast<std::uint8_t>(smooth | ((noise >> (8 * k)) & 0x07));
        }
      }
    }
  }
  return b;
}

struct NamespacePlan {
  const char* label;
  std::uint32_t first_id;
  std::uint32_t type_id;
};

}  // namespace

std::vector<CorpusFile> generate_corpus(const CorpusOptions& options) {
  // Records in three namespaces, textures in two; ids grow with gaps, as in real content.
  static constexpr NamespacePlan record_plans[] = {
      {"eor/portal", 0x0E010000, 0x0E}, {"eor/cell", 0x01010100, 0x01}, {"mod/ui", 0x22000000, 0x22}};
  static constexpr NamespacePlan texture_plans[] = {{"eor/portal", 0x06000000, 0x06},
                                                    {"mod/textures", 0x06000000, 0x06}};
  Random random(options.seed);
  std::vector<CorpusFile> files;
  files.reserve(options.files);
  std::uint32_t next_record_id[3] = {record_plans[0].first_id, record_plans[1].first_id, record_plans[2].first_id};
  std::uint32_t next_texture_id[2] = {texture_plans[0].first_id, texture_plans[1].first_id};
  for (std::uint32_t i = 0; i < options.files; ++i) {
    CorpusFile f;
    if (i % 50 == 49) {  // 2% textures
      const std::uint32_t k = random.below(2);
      f.namespace_ = texture_plans[k].label;
      f.file_id = next_texture_id[k] += 1 + random.below(3);
      f.type_id = texture_plans[k].type_id;
      f.data = texture(random, random.log_uniform(4 << 10, 512 << 10));
    } else {
      const std::uint32_t roll = random.below(100);
      const std::uint32_t k = roll < 50 ? 0 : (roll < 85 ? 1 : 2);
      f.namespace_ = record_plans[k].label;
      f.file_id = next_record_id[k] += 1 + random.below(3);
      f.type_id = record_plans[k].type_id;
      f.data = record(random, random.log_uniform(100, 4 << 10));
    }
    files.push_back(std::move(f));
  }
  return files;
}

std::string corpus_relative_path(const CorpusFile& file) {
  return fmt::format("{}/{:08X}.bin", file.namespace_, file.file_id);
}

bool write_corpus_tree(const std::vector<CorpusFile>& files, const std::filesystem::path& dir) {
  std::error_code ec;
  for (const auto& f : files) {
    const auto path = dir / corpus_relative_path(f);
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec) return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(f.data.data()), static_cast<std::streamsize>(f.data.size()));
    if (!out) return false;
  }
  return true;
}

std::uint64_t corpus_bytes(const std::vector<CorpusFile>& files) {
  std::uint64_t total = 0;
  for (const auto& f : files) total += f.data.size();
  return total;
}

std::uint32_t corpus_files_from_env() {
  const char* text = std::getenv("QM_BENCH_FILES");
  if (text == nullptr || *text == '\0') return 100000;
  return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

std::filesystem::path bench_work_dir() {
  const char* text = std::getenv("QM_BENCH_DIR");
  std::filesystem::path dir = text != nullptr && *text != '\0' ? text : "/tmp/quillmarsh-bench";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir;
}

namespace {
std::atomic<std::size_t> live_heap_bytes{0};
}  // namespace

std::size_t heap_in_use() { return live_heap_bytes.load(std::memory_order_relaxed); }

}  // namespace quillmarsh::bench

// Every benchmark program counts the bytes its C++ allocations hold, so memory per entry and memory
// after open are exact rather than read off the allocator's arena statistics.
void* operator new(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  quillmarsh::bench::live_heap_bytes.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
  return p;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  quillmarsh::bench::live_heap_bytes.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
