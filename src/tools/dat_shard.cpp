#include "quillmarsh/tools/dat_shard.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <optional>

#include "quillmarsh/dat/file_type/spell_table.hpp"
#include "quillmarsh/dat/landblock.hpp"
#include "quillmarsh/dat/manifest.hpp"
#include "quillmarsh/dat/walk.hpp"
#include "quillmarsh/tools/dat2qma.hpp"

namespace quillmarsh::tools {

namespace {

// Appends `text` quoted, escaping quotes, backslashes, control characters and bytes that are not UTF-8.
void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\0':
          out += "\\0";
          break;
        case '\t':
          out += "\\t";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        default:
          if (c < 0x20 || c == 0x7F) {
            out += fmt::format("\\u{{{:x}}}", c);
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    // A multi-byte UTF-8 sequence: kept as it stands unless it is invalid or a C1 control.
    std::size_t len = 0;
    std::uint32_t cp = 0;
    std::uint32_t min = 0;
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
      min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
      min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
      min = 0x10000;
    }
    bool valid = len != 0 && text.size() - i >= len;
    for (std::size_t k = 1; valid && k < len; ++k) {
      valid = (s[i + k] & 0xC0) == 0x80;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    valid = valid && cp >= min && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    if (!valid) {
      out += fmt::format("\\x{{{:02x}}}", c);
      ++i;
    } else if (cp <= 0x9F) {
      out += fmt::format("\\u{{{:x}}}", cp);
      i += len;
    } else {
      out.append(text.substr(i, len));
      i += len;
    }
  }
  out += '"';
}

std::optional<std::uint32_t> hex_digit(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint32_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint32_t>(c - 'A' + 10);
  return std::nullopt;
}

// Adds the essentials and the neighbourhood's landblock files, then walks the models of every
// landblock info. `with_info_bytes(info_id, use)` calls `use` with the file's bytes when it has them.
template <class WithInfoBytes>
dat::KeepSet plan(const dat::ResourceSource& source, std::uint32_t spawn_landblock, WithInfoBytes with_info_bytes) {
  // The portal tables a client cannot start without, and the derived kinematics asset's id (paired
  // with the portal namespace here).
  static constexpr std::uint32_t essentials[] = {
      dat::CharGen::FILE_ID,    dat::ESSENTIAL_TABLE_0E000007, dat::SkillTable::FILE_ID,
      dat::SpellTable::FILE_ID, dat::XpTable::FILE_ID,         MOTION_KINEMATICS_FILE_ID,
  };
  dat::KeepSet keep;
  for (const std::uint32_t id : essentials) keep.insert({std::string(dat::EOR_PORTAL_NAMESPACE), id});

  const std::vector<std::uint32_t> landblocks = spawn_neighborhood_cells(spawn_landblock);
  for (const std::uint32_t landblock : landblocks) {
    keep.insert({std::string(dat::EOR_CELL_NAMESPACE), landblock_file_id(landblock)});
    keep.insert({std::string(dat::EOR_CELL_NAMESPACE), landblock_info_file_id(landblock)});
  }
  for (const std::uint32_t landblock : landblocks) {
    with_info_bytes(landblock_info_file_id(landblock), [&](ByteView bytes) {
      auto info = dat::LandblockInfo::unpack(bytes);
      if (!info) return;
      for (const dat::Stab& object : info->objects) dat::walk_model(source, object.id, keep, 0);
      for (const dat::BuildInfo& building : info->buildings) dat::walk_model(source, building.model_id, keep, 0);
    });
  }
  return keep;
}

}  // namespace

tl::expected<std::uint32_t, std::string> parse_hex_u32(std::string_view text) {
  std::string_view digits = text;
  if (digits.starts_with("0x") || digits.starts_with("0X")) digits.remove_prefix(2);

  const char* reason = nullptr;
  std::uint64_t value = 0;
  if (digits.empty()) reason = "cannot parse integer from empty string";
  if (digits.starts_with('+')) {
    digits.remove_prefix(1);
    if (digits.empty()) reason = "invalid digit found in string";  // a lone sign
  }
  for (const char c : digits) {
    const auto digit = hex_digit(c);
    if (!digit) {
      reason = "invalid digit found in string";
      break;
    }
    value = value * 16 + *digit;
    if (value > 0xFFFFFFFFULL) {
      reason = "number too large to fit in target type";
      break;
    }
  }
  if (reason == nullptr) return static_cast<std::uint32_t>(value);

  std::string message = "invalid hex u32 ";
  append_quoted(message, text);
  message += ": ";
  message += reason;
  return tl::unexpected(std::move(message));
}

std::vector<std::uint32_t> spawn_neighborhood_cells(std::uint32_t landblock) {
  const int x = static_cast<int>((landblock >> 8) & 0xFF);
  const int y = static_cast<int>(landblock & 0xFF);
  std::vector<std::uint32_t> cells;
  for (int dx = -1; dx <= 1; ++dx) {
    for (int dy = -1; dy <= 1; ++dy) {
      const int nx = x + dx;
      const int ny = y + dy;
      if (nx < 0 || nx > 0xFF || ny < 0 || ny > 0xFF) continue;  // outside the grid: left out
      cells.push_back((static_cast<std::uint32_t>(nx) << 8) | static_cast<std::uint32_t>(ny));
    }
  }
  return cells;
}

bool is_boot_essential(std::string_view namespace_, std::uint32_t file_id, std::uint32_t spawn_landblock) {
  if (namespace_ != dat::EOR_CELL_NAMESPACE) return false;
  const std::uint32_t low = file_id & 0xFFFF;
  if (low != LANDBLOCK_FILE_LOW_BITS && low != LANDBLOCK_INFO_LOW_BITS) return false;
  const std::vector<std::uint32_t> cells = spawn_neighborhood_cells(spawn_landblock);
  return std::find(cells.begin(), cells.end(), file_id >> 16) != cells.end();
}

dat::DatResult<Bytes> BundleSource::get_file_by_key(const dat::ResourceKey& key) const {
  auto it = files.find({std::string(key.namespace_), key.file_id});
  if (it == files.end()) {
    return dat::dat_fail(
        dat::DatError::Other{fmt::format("BundleSource: missing {}:0x{:08X}", key.namespace_, key.file_id)});
  }
  return it->second;
}

dat::KeepSet compute_boot_keep_set(const dat::ResourceSource& source, std::uint32_t spawn_landblock) {
  return plan(source, spawn_landblock, [&](std::uint32_t info_id, const auto& use) {
    auto bytes = source.get_file_by_key(dat::ResourceKey{dat::EOR_CELL_NAMESPACE, info_id});
    if (bytes) use(ByteView(*bytes));  // a file that cannot be fetched counts as absent
  });
}

dat::KeepSet compute_boot_keep_set(const BundleSource& bundle, std::uint32_t spawn_landblock) {
  return plan(bundle, spawn_landblock, [&](std::uint32_t info_id, const auto& use) {
    auto it = bundle.files.find({std::string(dat::EOR_CELL_NAMESPACE), info_id});
    if (it != bundle.files.end()) use(ByteView(it->second));
  });
}

}  // namespace quillmarsh::tools
