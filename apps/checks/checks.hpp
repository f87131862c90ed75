// The named checks of the entry point. Each builds its inputs in memory (or writes an archive in a
// fresh temporary directory of its own) and drives one operation; GoogleTest assertions report.
#pragma once

namespace quillmarsh::checks {

// Archive
void archive_round_trip_in_core_namespace();
void archive_rejects_duplicate_namespaced_id();
void empty_archive_is_28_bytes_and_opens();
void unfinished_archive_is_rejected();
void namespace_metadata_must_be_contiguous();
// Keep-rules
void logic_only_keeps_logic_kinds();
void micro_keeps_only_essential_tables();
// Motion kinematics
void derives_forward_velocity_and_explicit_omega();
void turn_cycle_gets_no_inferred_velocity();
void missing_animation_fails_derivation();
void kinematics_asset_round_trips_through_archive();
void collects_only_forward_cycle_animations();
// Input namespaces
void explicit_namespace_wins_over_hint_and_file_name();
void namespace_falls_back_to_file_stem();
void invalid_explicit_namespace_is_rejected();
// Boot shard
void parses_hex_landblock_ids();
void boot_keep_set_of_empty_bundle_has_24_pairs();
// Spell export
void spell_export_filters_by_school_and_category();

}  // namespace quillmarsh::checks
