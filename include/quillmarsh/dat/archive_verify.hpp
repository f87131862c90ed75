// Sequential index scans and full verification of an opened archive: every invariant of the format
// that QmaReader::open does not check itself, entry by entry.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "quillmarsh/dat/archive.hpp"

namespace quillmarsh::dat {

// One violation, tied to the index record it concerns.
struct ArchiveProblem {
  std::uint32_t index_position = 0;
  // The entry's namespace as stored (bytes up to the first zero; control and non-ASCII bytes shown as
  // \xNN) and its file id. Absent when the record itself could not be read.
  std::optional<std::string> namespace_;
  std::uint32_t file_id = 0;
  std::string message;

  // "index 3 (eor/portal:0x0E000002): <message>"
  std::string to_string() const;
  friend bool operator==(const ArchiveProblem&, const ArchiveProblem&) = default;
};

// Reads the index records at positions [first, first + count) in order, in chunks of about one MiB
// (never one read per record), and calls visit(position, entry) for each; a false return stops the
// scan early. Fails when the range lies outside the index or a chunk cannot be read.
using IndexVisitor = std::function<bool(std::uint32_t position, const QmaEntry& entry)>;
DatResult<void> scan_index_records(const QmaReader& reader, std::uint32_t first, std::uint32_t count,
                                   const IndexVisitor& visit);

// Called after each chunk of index records: records checked so far, and the header's entry count.
using VerifyProgress = std::function<void(std::uint32_t checked, std::uint32_t total)>;

// Checks, for each index record in order:
//   - the record's namespace equals the namespace of the span that covers it;
//   - the whole index is strictly ascending by (namespace bytes, file id): no record sorts before or
//     equals its predecessor (equal is a duplicate);
//   - its stored range lies in the data area, between the header and the namespace metadata block;
//   - an uncompressed entry stores exactly `size` bytes, a compressed one fewer than `size`;
//   - a compressed entry's frame decompresses to exactly `size` bytes.
// The index is read sequentially in large chunks; only compressed entries' bytes are read, one at a
// time. An unreadable chunk of the index is reported once and ends the scan.
std::vector<ArchiveProblem> verify_archive(const QmaReader& reader, const VerifyProgress& progress = {});

// The display form of a stored 32-byte namespace, as in ArchiveProblem::namespace_.
std::string printable_namespace(const ResourceNamespace::Raw& bytes);

}  // namespace quillmarsh::dat
