#include "tables/device_tables.h"

#include "platform/env.h"
#include "text/lines.h"
#include "text/text_fields.h"

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
