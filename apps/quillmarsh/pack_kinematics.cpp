// The kinematics side of `pack`.
#include "pack_kinematics.hpp"

#include <algorithm>

#include "pack_inputs.hpp"

namespace quillmarsh::cli {

namespace {

constexpr std::uint32_t kind_of(std::uint32_t id) { return id >> 24; }
constexpr std::uint32_t SETUP_KIND = 0x02;
constexpr std::uint32_t ANIMATION_KIND = 0x03;
constexpr std::uint32_t MOTION_TABLE_KIND = 0x09;

tl::unexpected<tools::ToolError> decode_failure(std::uint32_t id, BinError error) {
  return tools::tool_fail(tools::ToolError::DatRead{id, dat::DatError(std::move(error))});
}

}  // namespace

tools::ToolResult<Bytes> read_location(const FileLocation& location, std::uint32_t id) {
  if (const auto* file = std::get_if<const InputFile*>(&location)) {
    if ((*file)->id == id) return read_input_file(**file);
    InputFile named = **file;  // the error names the id asked for
    named.id = id;
    return read_input_file(named);
  }
  const auto& [reader, entry] = std::get<std::pair<const dat::QmaReader*, dat::QmaEntry>>(location);
  auto data = reader->read_entry_data(entry);
  if (!data) return tools::tool_fail(tools::ToolError::DatRead{id, std::move(data.error())});
  return std::move(*data);
}

tools::ToolResult<void> KinematicsGatherer::observe(std::string_view namespace_, std::uint32_t id, ByteView bytes,
                                                    const FileLocation& location) {
  if (namespace_ != dat::EOR_PORTAL_NAMESPACE) return {};
  switch (kind_of(id)) {
    case SETUP_KIND: {
      ByteReader reader(bytes);
      auto setup = dat::SetupModel::unpack(reader);
      if (!setup) return decode_failure(id, std::move(setup.error()));
      setups_.push_back(std::move(*setup));
      break;
    }
    case MOTION_TABLE_KIND: {
      auto table = dat::MotionTable::unpack(bytes);
      if (!table) return decode_failure(id, std::move(table.error()));
      motion_tables_.push_back(std::move(*table));
      break;
    }
    case ANIMATION_KIND:
      animations_.insert_or_assign(id, location);
      break;
    default:
      break;
  }
  return {};
}

tools::ToolResult<KinematicsGatherer::Result> KinematicsGatherer::emit(dat::QmaStreamWriter& writer,
                                                                       const std::filesystem::path& archive_path) {
  Result result;
  if (setups_.empty() && motion_tables_.empty() && existing_asset_) {
    auto bytes = read_location(*existing_asset_, tools::MOTION_KINEMATICS_FILE_ID);
    if (!bytes) return tl::unexpected(std::move(bytes.error()));
    auto added = writer.add(dat::CORE_NAMESPACE, tools::MOTION_KINEMATICS_FILE_ID, tools::MOTION_KINEMATICS_TYPE_ID,
                            std::move(*bytes));
    if (!added) return tools::tool_fail(tools::ToolError::QmaWrite{archive_path, added.error().to_string()});
    return result;
  }

  // Only the animations that forward cycles without an explicit velocity use, in ascending id order.
  std::unordered_set<std::uint32_t> wanted;
  for (const auto& table : motion_tables_) tools::collect_referenced_animation_ids(table, wanted);
  std::vector<std::uint32_t> ids(wanted.begin(), wanted.end());
  std::sort(ids.begin(), ids.end());
  dat::AnimationMap animations;
  for (const std::uint32_t id : ids) {
    const auto found = animations_.find(id);
    if (found == animations_.end()) continue;  // the derivation reports the missing animation
    auto bytes = read_location(found->second, id);
    if (!bytes) return tl::unexpected(std::move(bytes.error()));
    auto animation = dat::Animation::unpack(*bytes);
    if (!animation) return decode_failure(id, std::move(animation.error()));
    animations.emplace(id, std::move(*animation));
  }

  result.derived = true;
  result.motion_tables = motion_tables_.size();
  result.setups = setups_.size();
  result.animations = animations.size();
  auto kinematics = tools::derive_motion_kinematics_from_parsed_portal_assets(std::move(motion_tables_),
                                                                              std::move(setups_), animations);
  motion_tables_.clear();
  setups_.clear();
  if (!kinematics) return tl::unexpected(std::move(kinematics.error()));
  if (auto written = tools::write_motion_kinematics_asset(*kinematics, writer, archive_path); !written) {
    return tl::unexpected(std::move(written.error()));
  }
  return result;
}

}  // namespace quillmarsh::cli
