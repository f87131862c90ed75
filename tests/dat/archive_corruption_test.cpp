// Corruption sweep over a real archive: every truncation, and single-byte changes at every offset. The
// damaged archive is opened from memory and everything its index allows is read. Each read must either
// fail with a DatError or return the entry's original bytes, unless the change hit that entry's own
// stored bytes (its blob or its index record): nothing in the format protects an uncompressed blob or
// a record's offset and sizes, so those may come back wrong, but never as a crash, a hang or a
// sanitizer report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/resource.hpp"
#include "test_support.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::TempDir;

struct Original {
  std::string namespace_;
  std::uint32_t file_id = 0;
  Bytes data;
  bool compressed = false;
  std::uint64_t blob_begin = 0, blob_end = 0;      // stored bytes
  std::uint64_t record_begin = 0, record_end = 0;  // index record
};

// A half-open byte range of the archive that a case changed or cut away.
struct Damage {
  std::uint64_t begin = 0, end = 0;
  bool hits(std::uint64_t b, std::uint64_t e) const { return begin < e && b < end; }
};

struct Tally {
  std::uint64_t cases = 0;
  std::uint64_t rejected_at_open = 0;
  std::uint64_t reads_failed = 0;
  std::uint64_t reads_identical = 0;
  std::uint64_t reads_of_damaged_entry = 0;  // the entry's own bytes changed: any bytes allowed
  std::uint64_t reads_through_rewritten_id = 0;

  void add(const Tally& t) {
    cases += t.cases;
    rejected_at_open += t.rejected_at_open;
    reads_failed += t.reads_failed;
    reads_identical += t.reads_identical;
    reads_of_damaged_entry += t.reads_of_damaged_entry;
    reads_through_rewritten_id += t.reads_through_rewritten_id;
  }
};

Bytes noise(std::size_t n, std::uint32_t seed) {
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>((seed = seed * 1664525U + 1013904223U) >> 24);
  return out;
}

Bytes pattern(std::size_t n, std::uint8_t period) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>('a' + i % period);
  return out;
}

class ArchiveCorruption : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TempDir dir;
    const auto path = dir / "sweep.qma";
    auto writer = QmaStreamWriter::create(path);
    ASSERT_TRUE(writer) << writer.error().to_string();
    struct Add {
      std::string_view ns;
      std::uint32_t id;
      Bytes data;
      bool compress;
    };
    // Added out of index order, so blobs and index records lie in different orders.
    const std::vector<Add> adds = {
        {EOR_PORTAL_NAMESPACE, 0x0E000002, pattern(900, 7), true},
        {EOR_CELL_NAMESPACE, 0xA9B4FFFF, noise(48, 1), true},
        {EOR_PORTAL_NAMESPACE, 0x01000001, noise(64, 2), true},
        {CORE_NAMESPACE, 0x4D4F544B, pattern(300, 5), true},
        {EOR_CELL_NAMESPACE, 0xA9B4FFFE, pattern(500, 11), true},
        {EOR_PORTAL_NAMESPACE, 0x01000002, {}, true},
        {EOR_PORTAL_NAMESPACE, 0x08000001, pattern(120, 3), false},  // compressible, stored as is
        {EOR_PORTAL_NAMESPACE, 0x0E000004, pattern(400, 13), true},
    };
    for (const auto& a : adds) {
      writer->compress = a.compress;
      auto added = writer->add(a.ns, a.id, 0x10, a.data);
      ASSERT_TRUE(added) << added.error().to_string();
    }
    auto finished = std::move(*writer).finish();
    ASSERT_TRUE(finished) << finished.error().to_string();

    std::ifstream in(path, std::ios::binary);
    archive_ = Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());

    auto reader = QmaReader::from_source(std::make_unique<MemoryFile>(archive_));
    ASSERT_TRUE(reader) << reader.error().to_string();
    header_ = reader->header();
    for (const auto& record : reader->namespaces()) {
      for (std::uint32_t p = record.start_index; p < record.start_index + record.entry_count; ++p) {
        auto entry = reader->entry_at(p);
        ASSERT_TRUE(entry);
        const auto it = std::find_if(adds.begin(), adds.end(), [&](const Add& a) {
          return a.ns == record.namespace_.label() && a.id == entry->file_id;
        });
        ASSERT_NE(it, adds.end());
        const std::uint64_t record_begin = header_.index_offset + std::uint64_t{QMA_ENTRY_SIZE} * p;
        entries_.push_back({std::string(it->ns), it->id, it->data, entry->compressed(), entry->offset,
                            entry->offset + entry->comp_size, record_begin, record_begin + QMA_ENTRY_SIZE});
      }
    }
    ASSERT_EQ(entries_.size(), adds.size());
    const auto compressed =
        std::count_if(entries_.begin(), entries_.end(), [](const Original& e) { return e.compressed; });
    ASSERT_GE(compressed, 3);
    ASSERT_GE(entries_.size() - static_cast<std::size_t>(compressed), 3U);
    ASSERT_EQ(reader->namespaces().size(), 3U);
  }

  static void TearDownTestSuite() {
    std::cout << "[ sweep    ] archive of " << archive_.size() << " bytes, " << entries_.size()
              << " entries: " << total_.cases << " damaged archives, " << total_.rejected_at_open
              << " rejected at open; reads: " << total_.reads_failed << " failed, " << total_.reads_identical
              << " identical, " << total_.reads_of_damaged_entry << " of a damaged entry, "
              << total_.reads_through_rewritten_id << " through a rewritten id\n";
  }

  std::uint64_t metadata_offset() const { return header_.index_offset - header_.metadata_size; }

  // The original entry whose index record starts at `record_begin`.
  const Original* entry_with_record_at(std::uint64_t record_begin) const {
    for (const auto& e : entries_) {
      if (e.record_begin == record_begin) return &e;
    }
    return nullptr;
  }

  // Opens the damaged archive and reads everything the index allows, checking each result.
  void read_everything(const Bytes& damaged, const Damage& damage, const std::string& label, Tally& tally) const {
    ++tally.cases;
    auto reader = QmaReader::from_source(std::make_unique<MemoryFile>(damaged));
    if (!reader) {
      ++tally.rejected_at_open;
      EXPECT_FALSE(reader.error().to_string().empty());
      return;
    }
    // A changed file id can make a record claim another entry's id. Nothing in the format ties an
    // id to its position, so a lookup may land on that record; it then returns that record's bytes.
    auto rewritten_into = [&](std::uint32_t file_id, const Bytes& got) {
      for (const auto& j : entries_) {
        if (!damage.hits(j.record_begin + 32, j.record_begin + 36)) continue;
        std::uint32_t id = 0;
        for (int b = 3; b >= 0; --b) id = (id << 8) | damaged[j.record_begin + 32 + static_cast<std::size_t>(b)];
        if (id == file_id && got == j.data) return true;
      }
      return false;
    };
    auto judge = [&](const Original& want, const DatResult<Bytes>& got, const char* how) {
      if (!got) {
        ++tally.reads_failed;
        EXPECT_FALSE(got.error().to_string().empty());
      } else if (*got == want.data) {
        ++tally.reads_identical;
      } else if (damage.hits(want.blob_begin, want.blob_end) || damage.hits(want.record_begin, want.record_end)) {
        ++tally.reads_of_damaged_entry;
      } else if (rewritten_into(want.file_id, *got)) {
        ++tally.reads_through_rewritten_id;
      } else {
        ADD_FAILURE() << label << ": " << how << " " << want.namespace_ << ":" << want.file_id
                      << " returned different bytes (" << got->size() << " instead of " << want.data.size()
                      << ") though its stored bytes were intact";
      }
    };

    for (const auto& want : entries_) {
      judge(want, reader->get_file_in_namespace(want.namespace_, want.file_id), "lookup of");
    }
    for (const auto& record : reader->namespaces()) {
      for (std::uint32_t p = record.start_index; p - record.start_index < record.entry_count; ++p) {
        auto entry = reader->entry_at(p);
        if (!entry) {
          ++tally.reads_failed;
          continue;
        }
        const Original* want = entry_with_record_at(header_.index_offset + std::uint64_t{QMA_ENTRY_SIZE} * p);
        ASSERT_NE(want, nullptr) << label << ": index position " << p << " outside the original index";
        judge(*want, reader->read_entry_data(*entry), "index walk of");
      }
    }
  }

  // Single-byte changes at every offset of [begin, end), one case per xor value.
  Tally sweep_bytes(std::uint64_t begin, std::uint64_t end, const char* region) const {
    Tally tally;
    for (std::uint64_t at = begin; at < end; ++at) {
      for (const std::uint8_t x : {std::uint8_t{0xFF}, std::uint8_t{0x01}, std::uint8_t{0x80}}) {
        Bytes damaged = archive_;
        damaged[at] ^= x;
        read_everything(damaged, {at, at + 1},
                        std::string(region) + " byte " + std::to_string(at) + " ^ " + std::to_string(x), tally);
        if (HasFatalFailure()) return tally;
      }
    }
    return tally;
  }

  void report(const char* name, const Tally& tally) {
    RecordProperty(std::string(name) + "_cases", std::to_string(tally.cases));
    std::cout << "[ sweep    ] " << name << ": " << tally.cases << " cases, " << tally.rejected_at_open
              << " rejected at open\n";
    total_.add(tally);
  }

  static Bytes archive_;
  static QmaHeader header_;
  static std::vector<Original> entries_;
  static Tally total_;
};

Bytes ArchiveCorruption::archive_;
QmaHeader ArchiveCorruption::header_;
std::vector<Original> ArchiveCorruption::entries_;
Tally ArchiveCorruption::total_;

TEST_F(ArchiveCorruption, IntactArchiveReadsBackExactly) {
  Tally tally;
  read_everything(archive_, {0, 0}, "intact", tally);
  EXPECT_EQ(tally.rejected_at_open, 0U);
  EXPECT_EQ(tally.reads_identical, 2 * entries_.size());
}

TEST_F(ArchiveCorruption, EveryTruncationIsRejectedOrReadsTrue) {
  Tally tally;
  for (std::size_t length = 0; length < archive_.size(); ++length) {
    const Bytes cut(archive_.begin(), archive_.begin() + static_cast<std::ptrdiff_t>(length));
    read_everything(cut, {length, archive_.size()}, "truncated to " + std::to_string(length), tally);
    ASSERT_FALSE(HasFatalFailure());
  }
  // The index ends the file, so no cut leaves a readable archive.
  EXPECT_EQ(tally.rejected_at_open, archive_.size());
  report("truncation", tally);
}

TEST_F(ArchiveCorruption, ByteChangesInHeaderMetadataAndIndex) {
  Tally tally = sweep_bytes(0, QMA_HEADER_SIZE, "header");
  ASSERT_FALSE(HasFatalFailure());
  tally.add(sweep_bytes(metadata_offset(), header_.index_offset, "metadata"));
  ASSERT_FALSE(HasFatalFailure());
  tally.add(sweep_bytes(header_.index_offset, archive_.size(), "index"));
  EXPECT_EQ(tally.cases, 3 * (QMA_HEADER_SIZE + (archive_.size() - metadata_offset())));
  report("header_metadata_index", tally);
}

TEST_F(ArchiveCorruption, ByteChangesInStoredData) {
  // The data area is small enough to change every byte of it, not only a sample.
  const Tally tally = sweep_bytes(QMA_HEADER_SIZE, metadata_offset(), "data");
  report("data", tally);
}

}  // namespace
}  // namespace quillmarsh::dat
