// qm_bench_corpus DIR [FILES]: writes the benchmark corpus (default 100,000 files) as DIR/<namespace>/<ID>.bin
// and prints the number of files and bytes.
#include <cstdio>
#include <cstdlib>

#include "corpus.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [FILES]\n", argv[0]);
    return 2;
  }
  quillmarsh::bench::CorpusOptions options;
  if (argc > 2) options.files = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const auto files = quillmarsh::bench::generate_corpus(options);
  if (!quillmarsh::bench::write_corpus_tree(files, argv[1])) {
    std::fprintf(stderr, "failed to write the corpus under %s\n", argv[1]);
    return 1;
  }
  std::printf("%zu files, %llu bytes\n", files.size(),
              static_cast<unsigned long long>(quillmarsh::bench::corpus_bytes(files)));
  return 0;
}
