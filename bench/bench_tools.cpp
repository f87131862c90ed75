// The tools against their input size: each runs at a quarter, half and the whole of its nominal input,
// so a flat time per item shows linear cost.
//   - kinematics: derivation over T motion tables, 25 T animations and T setups, then the asset's
//     encoding (nominal: 2,000 tables, 50,000 animations);
//   - boot shard: the keep-set plan over a bundle of F files made by the synthetic content generator
//     (nominal: 100,000 files);
//   - spell export: S spells with every field, then the JSON document as text (nominal: 10,000).
#include <benchmark/benchmark.h>

#include <map>

#include "quillmarsh/dat/file_type/motion_kinematics.hpp"
#include "quillmarsh/tools/dat2qma.hpp"
#include "quillmarsh/tools/dat_shard.hpp"
#include "quillmarsh/tools/spell_export.hpp"
#include "quillmarsh/tools/synthetic_content.hpp"

namespace quillmarsh::bench {
namespace {

using namespace quillmarsh::dat;

// --- kinematics ---

struct KinematicsInput {
  std::vector<MotionTable> tables;
  std::vector<SetupModel> setups;
  AnimationMap animations;
};

Animation animation(std::uint32_t id, std::uint32_t seed) {
  Animation a;
  a.id = id;
  const std::uint32_t frames = 8 + seed % 17;
  const std::uint32_t parts = 2 + seed % 3;
  a.header_words = {Animation::FLAG_POSITION_FRAMES, parts, frames};
  for (std::uint32_t f = 0; f < frames; ++f) {
    Frame frame;
    frame.origin = Vector3{0.0F, 0.05F + 0.01F * static_cast<float>(seed % 7), 0.0F};
    frame.orientation = Quaternion{1.0F, 0.0F, 0.0F, 0.0F};
    a.position_frames.push_back(frame);
    AnimFrame record;
    record.frames.resize(parts, frame);
    a.frame_records.push_back(std::move(record));
  }
  return a;
}

// Each table: 12 cycles in 3 styles; per style two forward cycles (walk, run) that infer their
// velocity from two or three animations, a turn with an explicit omega, and an idle. Animations are
// shared so that the tables reference all of them.
const KinematicsInput& kinematics_input(std::uint32_t tables) {
  static std::map<std::uint32_t, KinematicsInput> cache;
  auto& in = cache[tables];
  if (!in.tables.empty()) return in;
  const std::uint32_t anim_count = 25 * tables;
  for (std::uint32_t i = 0; i < anim_count; ++i) in.animations.emplace(0x03000000 + i, animation(0x03000000 + i, i));
  std::uint32_t next_anim = 0;
  auto anim = [&] { return 0x03000000 + (next_anim++ % anim_count); };
  for (std::uint32_t t = 0; t < tables; ++t) {
    MotionTable table;
    table.id = 0x09000000 + t;
    table.default_style = 0x8000003D;
    for (std::uint32_t style = 0; style < 3; ++style) {
      const std::uint32_t s = 0x8000003D + style;
      for (const std::uint32_t command : {0x45000005U, 0x44000007U}) {
        MotionEntry e;
        for (std::uint32_t k = 0; k < 2 + (t + style) % 2; ++k) e.anims.push_back(AnimRef{anim(), 0, -1, 30.0F});
        table.cycles.emplace(cycle_key(s, command), std::move(e));
      }
      MotionEntry turn;
      turn.anims.push_back(AnimRef{anim(), 0, -1, 30.0F});
      turn.omega = Vector3{0.0F, 0.0F, 1.5F};
      turn.flags = MotionEntry::FLAG_OMEGA;
      table.cycles.emplace(cycle_key(s, 0x6500000D), std::move(turn));
      MotionEntry idle;
      idle.anims.push_back(AnimRef{anim(), 0, -1, 30.0F});
      table.cycles.emplace(cycle_key(s, 0x41000003), std::move(idle));
    }
    in.tables.push_back(std::move(table));
    SetupModel setup;
    setup.id = 0x02000000 + t;
    setup.default_motion_table = 0x09000000 + t;
    in.setups.push_back(std::move(setup));
  }
  return in;
}

void BM_Tool_Kinematics(benchmark::State& state) {
  const auto tables = static_cast<std::uint32_t>(state.range(0));
  const auto& in = kinematics_input(tables);
  std::size_t encoded = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto motion_tables = in.tables;  // the derivation consumes its lists
    auto setups = in.setups;
    state.ResumeTiming();
    auto kinematics = tools::derive_motion_kinematics_from_parsed_portal_assets(std::move(motion_tables),
                                                                                std::move(setups), in.animations);
    if (!kinematics) return state.SkipWithError("derivation failed");
    Bytes bytes;
    ByteWriter writer(bytes);
    if (!kinematics->write(writer)) return state.SkipWithError("encoding failed");
    encoded = bytes.size();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(tables) * state.iterations());
  state.counters["animations"] = static_cast<double>(in.animations.size());
  state.counters["asset_bytes"] = static_cast<double>(encoded);
}
BENCHMARK(BM_Tool_Kinematics)->ArgName("tables")->Arg(500)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond);

// --- boot shard ---

const tools::BundleSource& bundle(std::uint32_t files) {
  static std::map<std::uint32_t, tools::BundleSource> cache;
  auto& b = cache[files];
  if (!b.files.empty()) return b;
  // Each unit of scale adds about 213 files (portal and cell together); round up to reach `files`.
  tools::SyntheticContentOptions options;
  options.scale = (files + 212) / 213;
  auto content = tools::generate_synthetic_content(options);
  for (auto& [id, bytes] : content.portal)
    b.files.emplace(std::make_pair(std::string(EOR_PORTAL_NAMESPACE), id), std::move(bytes));
  for (auto& [id, bytes] : content.cell)
    b.files.emplace(std::make_pair(std::string(EOR_CELL_NAMESPACE), id), std::move(bytes));
  return b;
}

void BM_Tool_BootShardPlan(benchmark::State& state) {
  const auto& b = bundle(static_cast<std::uint32_t>(state.range(0)));
  std::size_t kept = 0;
  for (auto _ : state) {
    auto keep = tools::compute_boot_keep_set(b, tools::DEFAULT_SPAWN_LANDBLOCK);
    kept = keep.size();
    benchmark::DoNotOptimize(kept);
  }
  state.counters["bundle_files"] = static_cast<double>(b.files.size());
  state.counters["kept"] = static_cast<double>(kept);
}
BENCHMARK(BM_Tool_BootShardPlan)->ArgName("files")->Arg(25000)->Arg(50000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// --- spell export ---

const SpellTable& spell_table(std::uint32_t spells) {
  static std::map<std::uint32_t, SpellTable> cache;
  auto& t = cache[spells];
  if (!t.spells.empty()) return t;
  t.id = SpellTable::FILE_ID;
  for (std::uint32_t i = 1; i <= spells; ++i) {
    SpellBase s;
    s.name = "Spell of power " + std::to_string(i);
    s.description = "Raises the power of the caster by " + std::to_string(i % 50) + " points for a while.";
    s.school = 1 + i % 4;
    s.category = 1 + i % 300;
    s.bitfield = i * 2654435761U;
    s.base_mana = 5 + i % 400;
    s.base_range_constant = static_cast<float>(i % 10);
    s.base_range_mod = 0.5F;
    s.power = i % 500;
    for (std::size_t k = 0; k < s.raw_components.size(); ++k) s.raw_components[k] = (i + k) % 3 == 0 ? 0 : i % 200;
    s.mana_mod = i % 7;
    s.formula_version = 1;
    t.spells.emplace(i, std::move(s));
  }
  return t;
}

template <bool Text>
void BM_Tool_SpellExport(benchmark::State& state) {
  const auto& table = spell_table(static_cast<std::uint32_t>(state.range(0)));
  const tools::SpellExportRequest request;  // every field, no filter
  for (auto _ : state) {
    auto file = tools::export_spells(table, request);
    if constexpr (Text) {
      auto text = tools::to_json(file).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
      benchmark::DoNotOptimize(text.data());
    } else {
      benchmark::DoNotOptimize(file.spells.size());
    }
  }
  state.SetItemsProcessed(state.range(0) * state.iterations());
}
BENCHMARK(BM_Tool_SpellExport<false>)
    ->Name("BM_Tool_SpellExport")
    ->ArgName("spells")
    ->Arg(2500)
    ->Arg(5000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tool_SpellExport<true>)
    ->Name("BM_Tool_SpellExportJson")
    ->ArgName("spells")
    ->Arg(2500)
    ->Arg(5000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillmarsh::bench

BENCHMARK_MAIN();
