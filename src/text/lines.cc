#include "text/lines.h"

#include <cstring>

namespace lumbra {

LineReader::LineReader(std::string_view text)
    : text_(text), end_(text.find('\r') == std::string_view::npos ? '\n' : '\r') {}

bool LineReader::Next(std::string_view* line) {
  if (pos_ >= text_.size()) return false;
  const void* found = std::memchr(text_.data() + pos_, end_, text_.size() - pos_);
  if (found == nullptr) {
    *line = text_.substr(pos_);
    pos_ = text_.size();
    return true;
  }
  size_t end = static_cast<size_t>(static_cast<const char*>(found) - text_.data());
  *line = text_.substr(pos_, end - pos_);
  pos_ = end + 1;
  if (end_ == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
  return true;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  LineReader reader(text);
  std::string_view line;
  while (reader.Next(&line)) lines.emplace_back(line);
  return lines;
}

void AppendLine(std::string* out, std::string_view line) {
  out->append(line);
  out->append("\r\n");
}

}  // namespace lumbra
