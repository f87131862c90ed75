// Verification beyond open: index order and uniqueness, span membership, stored ranges, sizes and
// compressed frames. The index is streamed in chunks so that an archive of millions of entries costs
// a few hundred large reads, not one read per record.
#include "quillmarsh/dat/archive_verify.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <tuple>

namespace quillmarsh::dat {

namespace {

// About one MiB of index records per read.
constexpr std::uint32_t CHUNK_ENTRIES = 16384;

class Verifier {
 public:
  explicit Verifier(const QmaReader& reader)
      : reader_(reader),
        spans_(reader.namespaces()),
        data_end_(reader.header().index_offset - reader.header().metadata_size) {}

  void check(std::uint32_t position, const QmaEntry& entry) {
    check_span(position, entry);
    check_order(position, entry);
    if (check_range(position, entry) && check_sizes(position, entry) && entry.compressed()) {
      check_frame(position, entry);
    }
    previous_ = entry;
  }

  void report(std::uint32_t position, const QmaEntry* entry, std::string message) {
    ArchiveProblem problem;
    problem.index_position = position;
    if (entry != nullptr) {
      problem.namespace_ = printable_namespace(entry->namespace_.bytes());
      problem.file_id = entry->file_id;
    }
    problem.message = std::move(message);
    problems_.push_back(std::move(problem));
  }

  std::vector<ArchiveProblem> take() { return std::move(problems_); }

 private:
  void check_span(std::uint32_t position, const QmaEntry& entry) {
    // Open guaranteed the spans are contiguous from 0 and cover the index, so they advance in step.
    while (span_ < spans_.size() && position >= spans_[span_].start_index + spans_[span_].entry_count) ++span_;
    if (span_ == spans_.size()) return;
    const QmaNamespaceIndexEntry& span = spans_[span_];
    if (entry.namespace_ != span.namespace_) {
      report(position, &entry,
             fmt::format("namespace differs from that of its span '{}' (index {}..{})",
                         printable_namespace(span.namespace_.bytes()), span.start_index,
                         span.start_index + span.entry_count - 1));
    }
  }

  void check_order(std::uint32_t position, const QmaEntry& entry) {
    if (!previous_) return;
    const auto prev_key = std::tie(previous_->namespace_, previous_->file_id);
    const auto key = std::tie(entry.namespace_, entry.file_id);
    if (key == prev_key) {
      report(position, &entry, fmt::format("duplicate of index {}", position - 1));
    } else if (key < prev_key) {
      report(position, &entry,
             fmt::format("index out of order: sorts before index {} ({}:0x{:08X})", position - 1,
                         printable_namespace(previous_->namespace_.bytes()), previous_->file_id));
    }
  }

  bool check_range(std::uint32_t position, const QmaEntry& entry) {
    const bool overflow = entry.offset > std::numeric_limits<std::uint64_t>::max() - entry.comp_size;
    if (entry.offset < QMA_HEADER_SIZE || overflow || entry.offset + entry.comp_size > data_end_) {
      report(position, &entry,
             fmt::format("stored range out of bounds: offset {} + comp_size {} is not within the data area {}..{}",
                         entry.offset, entry.comp_size, QMA_HEADER_SIZE, data_end_));
      return false;
    }
    return true;
  }

  bool check_sizes(std::uint32_t position, const QmaEntry& entry) {
    if (!entry.compressed() && entry.comp_size != entry.size) {
      report(position, &entry,
             fmt::format("uncompressed entry has comp_size {} but size {}", entry.comp_size, entry.size));
      return false;
    }
    if (entry.compressed() && entry.comp_size >= entry.size) {
      report(position, &entry,
             fmt::format("compressed entry is not smaller than its data: comp_size {}, size {}", entry.comp_size,
                         entry.size));
      return false;
    }
    return true;
  }

  void check_frame(std::uint32_t position, const QmaEntry& entry) {
    auto data = reader_.read_entry_data(entry);
    if (!data) report(position, &entry, data.error().to_string());
  }

  const QmaReader& reader_;
  std::span<const QmaNamespaceIndexEntry> spans_;
  std::uint64_t data_end_;
  std::size_t span_ = 0;
  std::optional<QmaEntry> previous_;
  std::vector<ArchiveProblem> problems_;
};

}  // namespace

std::string printable_namespace(const ResourceNamespace::Raw& bytes) {
  std::string out;
  for (const std::uint8_t b : bytes) {
    if (b == 0) break;
    if (b < 0x20 || b >= 0x7F || b == '\\') {
      out += fmt::format("\\x{:02X}", b);
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

std::string ArchiveProblem::to_string() const {
  if (!namespace_) return fmt::format("index {}: {}", index_position, message);
  return fmt::format("index {} ({}:0x{:08X}): {}", index_position, *namespace_, file_id, message);
}

DatResult<void> scan_index_records(const QmaReader& reader, std::uint32_t first, std::uint32_t count,
                                   const IndexVisitor& visit) {
  const QmaHeader& header = reader.header();
  if (first > header.entry_count || count > header.entry_count - first) {
    return dat_fail(DatError::Other{
        fmt::format("QMA index range {}+{} is out of range ({} entries)", first, count, header.entry_count)});
  }
  Bytes chunk;
  const std::uint32_t end = first + count;
  for (std::uint32_t position = first; position < end;) {
    const std::uint32_t n = std::min(CHUNK_ENTRIES, end - position);
    chunk.resize(std::size_t{n} * QMA_ENTRY_SIZE);
    // Open checked that the whole index lies inside the file.
    QM_TRY(reader.source().read_exact_at_compat(chunk, header.index_offset + std::uint64_t{position} * QMA_ENTRY_SIZE));
    ByteReader records(chunk);
    for (std::uint32_t i = 0; i < n; ++i, ++position) {
      QM_TRY_ASSIGN(const QmaEntry entry, QmaEntry::read(records));
      if (!visit(position, entry)) return {};
    }
  }
  return {};
}

std::vector<ArchiveProblem> verify_archive(const QmaReader& reader, const VerifyProgress& progress) {
  Verifier verifier(reader);
  const std::uint32_t total = reader.header().entry_count;
  for (std::uint32_t first = 0; first < total;) {
    const std::uint32_t count = std::min(CHUNK_ENTRIES, total - first);
    auto scanned = scan_index_records(reader, first, count, [&](std::uint32_t position, const QmaEntry& entry) {
      verifier.check(position, entry);
      return true;
    });
    if (!scanned) {
      verifier.report(first, nullptr, fmt::format("index records unreadable: {}", scanned.error().to_string()));
      break;
    }
    first += count;
    if (progress) progress(first, total);
  }
  return verifier.take();
}

}  // namespace quillmarsh::dat
