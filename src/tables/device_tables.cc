#include "tables/device_tables.h"

#include "run/env.h"
#include "run/lines.h"
#include "run/text_fields.h"

namespace lumbra {

std::string MasterTablePath(std::string_view name) {
  return "1\\" + std::string(name) + ".dat";
}

void DeviceTableFile::AddLine(std::string_view line) {
  AppendLine(&bytes_, EncodeLine(line));
  ++lines_;
}

Status DeviceTableFile::Save(Env* env, const std::string& path) const {
  return env->WriteFile(path, bytes_);
}

}  // namespace lumbra
