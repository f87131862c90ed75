// Writes an archive through the installed library, reads it back and checks the bytes.
#include <cstdio>
#include <filesystem>
#include <string>

#include "quillmarsh/dat/archive.hpp"

int main(int argc, char** argv) {
  using namespace quillmarsh;
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer <archive path>\n");
    return 2;
  }
  const std::filesystem::path path = argv[1];
  const Bytes asset(4096, 0x2A);

  auto writer = dat::QmaStreamWriter::create(path);
  if (!writer) {
    std::fprintf(stderr, "create: %s\n", writer.error().to_string().c_str());
    return 1;
  }
  if (auto r = writer->add(dat::CORE_NAMESPACE, 0x4D4F544B, 0xFFFFFF01, asset); !r) {
    std::fprintf(stderr, "add: %s\n", r.error().to_string().c_str());
    return 1;
  }
  if (auto r = std::move(*writer).finish(); !r) {
    std::fprintf(stderr, "finish: %s\n", r.error().to_string().c_str());
    return 1;
  }

  auto reader = dat::QmaReader::open(path);
  if (!reader) {
    std::fprintf(stderr, "open: %s\n", reader.error().to_string().c_str());
    return 1;
  }
  auto data = reader->get_file_in_namespace(dat::CORE_NAMESPACE, 0x4D4F544B);
  if (!data || *data != asset) {
    std::fprintf(stderr, "read back: %s\n", data ? "bytes differ" : data.error().to_string().c_str());
    return 1;
  }
  std::printf("installed quillmarsh: wrote and read back %zu bytes\n", data->size());
  return 0;
}
