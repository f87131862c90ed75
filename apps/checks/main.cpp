// Hands the fixed table of named checks to GoogleTest. The table is the one place that lists them.
#include <gtest/gtest.h>

#include <iterator>

#include "checks.hpp"

namespace {

struct NamedCheck {
  const char* name;
  void (*run)();
};

using namespace quillmarsh::checks;

constexpr NamedCheck CHECKS[] = {
    {"archive_round_trip_in_core_namespace", archive_round_trip_in_core_namespace},
    {"archive_rejects_duplicate_namespaced_id", archive_rejects_duplicate_namespaced_id},
    {"empty_archive_is_28_bytes_and_opens", empty_archive_is_28_bytes_and_opens},
    {"unfinished_archive_is_rejected", unfinished_archive_is_rejected},
    {"namespace_metadata_must_be_contiguous", namespace_metadata_must_be_contiguous},
    {"logic_only_keeps_logic_kinds", logic_only_keeps_logic_kinds},
    {"micro_keeps_only_essential_tables", micro_keeps_only_essential_tables},
    {"derives_forward_velocity_and_explicit_omega", derives_forward_velocity_and_explicit_omega},
    {"turn_cycle_gets_no_inferred_velocity", turn_cycle_gets_no_inferred_velocity},
    {"missing_animation_fails_derivation", missing_animation_fails_derivation},
    {"explicit_namespace_wins_over_hint_and_file_name", explicit_namespace_wins_over_hint_and_file_name},
    {"namespace_falls_back_to_file_stem", namespace_falls_back_to_file_stem},
    {"invalid_explicit_namespace_is_rejected", invalid_explicit_namespace_is_rejected},
    {"kinematics_asset_round_trips_through_archive", kinematics_asset_round_trips_through_archive},
    {"collects_only_forward_cycle_animations", collects_only_forward_cycle_animations},
    {"parses_hex_landblock_ids", parses_hex_landblock_ids},
    {"boot_keep_set_of_empty_bundle_has_24_pairs", boot_keep_set_of_empty_bundle_has_24_pairs},
    {"spell_export_filters_by_school_and_category", spell_export_filters_by_school_and_category},
};

class Check : public ::testing::Test {
 public:
  explicit Check(void (*run)()) : run_(run) {}
  void TestBody() override { run_(); }

 private:
  void (*run_)();
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (const NamedCheck& check : CHECKS) {
    ::testing::RegisterTest("checks", check.name, nullptr, nullptr, __FILE__, __LINE__,
                            [run = check.run]() -> ::testing::Test* { return new Check(run); });
  }
  return RUN_ALL_TESTS();
}
