#include "backends/moneyworks/com_application.h"

#include <string>
#include <vector>

#include "platform/com_object.h"

namespace lumbra::moneyworks {
namespace {

// A call MoneyWorks did not answer in time names it to the user.
Status Described(Status s) {
  return s.IsTimedOut() ? Status::TimedOut("MoneyWorks " + s.message()) : s;
}

class ComApplication : public AutomationObject {
 public:
  explicit ComApplication(std::unique_ptr<ComObject> object) : object_(std::move(object)) {}

  Status Open(std::string_view document) override {
    Status s = Call("Open", {std::string(document)});
    open_ = s.ok();
    return s;
  }
  // The text "Export" returns says nothing the export needs.
  Status Export(std::string_view table, std::string_view search, const std::string& path) override {
    return Call("Export", {std::string(table), std::string(search), path});
  }
  Status Quit() override {
    open_ = false;
    return Call("Quit", {});
  }
  bool IsOpen() const override { return open_; }

 private:
  Status Call(std::string_view method, const std::vector<std::string>& args) {
    Status s = Described(object_->Invoke(method, args, nullptr));
    if (s.ok()) return s;
    return Status::IOError(std::string(method) + ": " + s.message() + " (" + object_->LastError() +
                           ")");
  }

  std::unique_ptr<ComObject> object_;
  bool open_ = false;
};

}  // namespace

Status CreateComApplication(CallThread* thread, uint64_t limit_ms, std::string_view class_name,
                            std::unique_ptr<AutomationObject>* object) {
  object->reset();
  std::unique_ptr<ComObject> com;
  Status s = CreateComObjectByName(thread, limit_ms, class_name, &com);
  if (!s.ok()) return Described(s);
  object->reset(new ComApplication(std::move(com)));
  return Status::OK();
}

}  // namespace lumbra::moneyworks
