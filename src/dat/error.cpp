#include "quillmarsh/dat/error.hpp"

#include <fmt/format.h>

namespace quillmarsh::dat {

std::string DatError::to_string() const {
  struct Visitor {
    std::string operator()(const Io& v) const { return fmt::format("IO error: {}", v.error.message); }
    std::string operator()(const BinRead& v) const { return fmt::format("Binary read error: {}", v.error.to_string()); }
    std::string operator()(const NotFound& v) const {
      return fmt::format("File ID {:08X} not found in provider", v.file_id);
    }
    std::string operator()(const DuplicateId& v) const {
      return fmt::format("Duplicate File ID {:08X} detected", v.file_id);
    }
    std::string operator()(const DuplicateNamespacedId& v) const {
      return fmt::format("Duplicate namespaced file {}:{:08X} detected", v.namespace_, v.file_id);
    }
    std::string operator()(const InvalidMagic& v) const {
      return fmt::format("Invalid magic for format: {}", v.format);
    }
    std::string operator()(const UnsupportedVersion& v) const {
      return fmt::format("Unsupported version: {}", v.version);
    }
    std::string operator()(const InvalidNamespace& v) const { return fmt::format("Invalid namespace: {}", v.reason); }
    std::string operator()(const Corruption& v) const { return fmt::format("Corruption detected: {}", v.reason); }
    std::string operator()(const DecompressionFailed& v) const {
      return fmt::format("Failed to recover compressed file {:08X}", v.file_id);
    }
    std::string operator()(const PathError& v) const {
      return fmt::format("Failed to open file at {}: {}", v.path.string(), v.source.message);
    }
    std::string operator()(const Other& v) const { return fmt::format("Other error: {}", v.text); }
  };
  return std::visit(Visitor{}, v_);
}

std::string DatError::debug_string() const {
  struct Visitor {
    std::string operator()(const Io& v) const { return fmt::format("Io({})", v.error.debug_string()); }
    std::string operator()(const BinRead& v) const { return fmt::format("BinRead({})", v.error.debug_string()); }
    std::string operator()(const NotFound& v) const { return fmt::format("NotFound({:#010x})", v.file_id); }
    std::string operator()(const DuplicateId& v) const { return fmt::format("DuplicateId({:#010x})", v.file_id); }
    std::string operator()(const DuplicateNamespacedId& v) const {
      return fmt::format("DuplicateNamespacedId {{ namespace: \"{}\", file_id: {:#010x} }}", v.namespace_, v.file_id);
    }
    std::string operator()(const InvalidMagic& v) const { return fmt::format("InvalidMagic(\"{}\")", v.format); }
    std::string operator()(const UnsupportedVersion& v) const {
      return fmt::format("UnsupportedVersion({})", v.version);
    }
    std::string operator()(const InvalidNamespace& v) const {
      return fmt::format("InvalidNamespace(\"{}\")", v.reason);
    }
    std::string operator()(const Corruption& v) const { return fmt::format("Corruption(\"{}\")", v.reason); }
    std::string operator()(const DecompressionFailed& v) const {
      return fmt::format("DecompressionFailed({:#010x})", v.file_id);
    }
    std::string operator()(const PathError& v) const {
      return fmt::format("PathError {{ path: \"{}\", source: {} }}", v.path.string(), v.source.debug_string());
    }
    std::string operator()(const Other& v) const { return fmt::format("Other(\"{}\")", v.text); }
  };
  return std::visit(Visitor{}, v_);
}

}  // namespace quillmarsh::dat
