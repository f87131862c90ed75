// The archive-scale benchmark corpus: many small records and fewer large textures, partly compressible,
// in several namespaces. The same options always give the same bytes (the generator has its own
// random sequence), so every benchmark and every peer tool sees identical files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "quillmarsh/common/binary.hpp"

namespace quillmarsh::bench {

struct CorpusFile {
  std::string namespace_;
  std::uint32_t file_id = 0;
  std::uint32_t type_id = 0;
  Bytes data;
};

struct CorpusOptions {
  std::uint32_t files = 100000;
  std::uint64_t seed = 0x9A11EA5EULL;
};

// Records: 98% of the files, 100 B to 4 KiB (log-uniform), rows of ids, small enums, floats from a
// short list and random words: about half of their bytes compress away. Textures: 2% of the files,
// 4 KiB to 512 KiB (log-uniform): smooth gradients with noisy low bits, flat blocks, or pure noise.
std::vector<CorpusFile> generate_corpus(const CorpusOptions& options);

// "<namespace>/<ID>.bin", the path of a file in a corpus tree (as `pack --tree` reads it).
std::string corpus_relative_path(const CorpusFile& file);

// Writes every file under `dir` at its relative path, creating directories; false on any failure.
bool write_corpus_tree(const std::vector<CorpusFile>& files, const std::filesystem::path& dir);

std::uint64_t corpus_bytes(const std::vector<CorpusFile>& files);

// Benchmark settings from the environment: QM_BENCH_FILES (default 100000) and QM_BENCH_DIR (default
// /tmp/quillmarsh-bench, created on demand).
std::uint32_t corpus_files_from_env();
std::filesystem::path bench_work_dir();

// Bytes held by the program's C++ allocations (operator new), counted exactly; zstd's own contexts,
// allocated with malloc, are not included.
std::size_t heap_in_use();

}  // namespace quillmarsh::bench
