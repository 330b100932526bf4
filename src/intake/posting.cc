#include "intake/posting.h"

namespace lumbra {

DeviceLines::DeviceLines(int device, std::vector<std::string> lines, Recorder* recorder)
    : device_(device),
      lines_(std::move(lines)),
      fates_(lines_.size(), LineFate::kUnreported),
      reasons_(lines_.size()),
      troubles_(lines_.size(), Trouble::kKept),
      recorder_(recorder) {}

Status DeviceLines::Begin(size_t i) {
  return recorder_ ? recorder_->LineBegins(i) : Status::OK();
}

Status DeviceLines::FileBegins(const PlacedFile& file) {
  return recorder_ ? recorder_->FileBegins(file) : Status::OK();
}

Status DeviceLines::FilesReady(const std::vector<PlacedFile>& files) {
  return recorder_ ? recorder_->FilesReady(files) : Status::OK();
}

void DeviceLines::Report(size_t i, LineFate fate, std::string reason, Trouble trouble) {
  if (i >= lines_.size() || fates_[i] != LineFate::kUnreported) return;
  fates_[i] = fate;
  reasons_[i] = std::move(reason);
  troubles_[i] = trouble;
  if (fate == LineFate::kKept) stopped_ = true;
  // A report the journal does not take costs nothing but a resumed pass's
  // knowledge of it: the line's changes, written down first, are undone and
  // the line posted again.
  if (recorder_) recorder_->LineEnded(i, fate, reasons_[i]);
}

void DeviceLines::KeepRest(const std::string& reason, Trouble trouble) {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (fates_[i] == LineFate::kUnreported) Report(i, LineFate::kKept, reason, trouble);
  }
  stopped_ = true;
}

void DeviceLines::Restore(size_t i, LineFate fate, std::string reason) {
  if (i >= lines_.size()) return;
  fates_[i] = fate;
  reasons_[i] = std::move(reason);
  if (fate == LineFate::kKept) stopped_ = true;
}

}  // namespace lumbra
