#include "platform/com_object.h"

namespace lumbra {
namespace {

Status NoCom() { return Status::NotSupported("COM components exist only on Windows"); }

}  // namespace

bool ComAvailable() { return false; }

Status CreateComObject(CallThread*, uint64_t, std::string_view, std::string_view,
                       std::unique_ptr<ComObject>* object) {
  object->reset();
  return NoCom();
}

Status CreateComObjectByName(CallThread*, uint64_t, std::string_view,
                             std::unique_ptr<ComObject>* object) {
  object->reset();
  return NoCom();
}

}  // namespace lumbra
