#include "quillmarsh/tools/error.hpp"

#include <fmt/format.h>

namespace quillmarsh::tools {

std::string ToolError::to_string() const {
  struct Visitor {
    std::string operator()(const DatOpen& v) const {
      return fmt::format("failed to open content input {}: {}", v.path.string(), v.text);
    }
    std::string operator()(const DatRead& v) const {
      return fmt::format("failed to read content file 0x{:08X}: {}", v.id, v.source.to_string());
    }
    std::string operator()(const QmaWrite& v) const {
      return fmt::format("failed to write archive {}: {}", v.path.string(), v.text);
    }
    std::string operator()(const Io& v) const { return fmt::format("I/O error: {}", v.error.message); }
    std::string operator()(const ProgressTemplate& v) const {
      return fmt::format("invalid progress template: {}", v.text);
    }
    std::string operator()(const Validation& v) const { return fmt::format("invalid input: {}", v.text); }
    std::string operator()(const AssetDerivation& v) const { return fmt::format("failed to derive asset: {}", v.text); }
  };
  return std::visit(Visitor{}, v_);
}

std::string ToolError::debug_string() const {
  struct Visitor {
    std::string operator()(const DatOpen& v) const {
      return fmt::format("DatOpen {{ path: \"{}\", text: \"{}\" }}", v.path.string(), v.text);
    }
    std::string operator()(const DatRead& v) const {
      return fmt::format("DatRead {{ id: {:#010x}, source: {} }}", v.id, v.source.debug_string());
    }
    std::string operator()(const QmaWrite& v) const {
      return fmt::format("QmaWrite {{ path: \"{}\", text: \"{}\" }}", v.path.string(), v.text);
    }
    std::string operator()(const Io& v) const { return fmt::format("Io({})", v.error.debug_string()); }
    std::string operator()(const ProgressTemplate& v) const { return fmt::format("ProgressTemplate(\"{}\")", v.text); }
    std::string operator()(const Validation& v) const { return fmt::format("Validation(\"{}\")", v.text); }
    std::string operator()(const AssetDerivation& v) const { return fmt::format("AssetDerivation(\"{}\")", v.text); }
  };
  return std::visit(Visitor{}, v_);
}

}  // namespace quillmarsh::tools
