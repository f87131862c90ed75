#include "quillmarsh/dat/manifest.hpp"

#include <algorithm>

#include "quillmarsh/dat/resource.hpp"

namespace quillmarsh::dat {

bool KeepRule::matches(std::string_view namespace_label, std::uint32_t id, DatFileType type) const {
  return (!namespace_ || *namespace_ == namespace_label) && (!file_id || *file_id == id) &&
         (!file_type || *file_type == type);
}

StripperManifest StripperManifest::logic_only() {
  static constexpr DatFileType kinds[] = {
      DatFileType::Model,          DatFileType::Setup,
      DatFileType::Audio,          DatFileType::SoundTable,
      DatFileType::Table,          DatFileType::Scene,
      DatFileType::LanguageString, DatFileType::ParticleEmitter,
      DatFileType::PhysicsScript,  DatFileType::MaterialModifier,
      DatFileType::FontTable,      DatFileType::Palette,
      DatFileType::DerivedAsset,
  };
  StripperManifest manifest;
  for (const DatFileType kind : kinds) manifest.rules.push_back(KeepRule{std::nullopt, std::nullopt, kind});
  return manifest;
}

StripperManifest StripperManifest::micro() {
  // 0x0E00000E is the spell table's id; its record type lives with the spell records.
  static constexpr std::uint32_t ids[] = {CharGen::FILE_ID, ESSENTIAL_TABLE_0E000007, SkillTable::FILE_ID, 0x0E00000E,
                                          XpTable::FILE_ID};
  StripperManifest manifest;
  for (const std::uint32_t id : ids) {
    manifest.rules.push_back(KeepRule{std::string(EOR_PORTAL_NAMESPACE), id, std::nullopt});
  }
  return manifest;
}

bool StripperManifest::should_keep_entry(std::string_view namespace_, std::uint32_t file_id,
                                         DatFileType file_type) const {
  return std::any_of(rules.begin(), rules.end(),
                     [&](const KeepRule& rule) { return rule.matches(namespace_, file_id, file_type); });
}

}  // namespace quillmarsh::dat
