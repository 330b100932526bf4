#include "text/lines.h"

namespace lumbra {

bool LineReader::Next(std::string_view* line) {
  if (pos_ >= text_.size()) return false;
  // A plain scan: find_first_of searches its set once per byte.
  size_t end = pos_;
  while (end < text_.size() && text_[end] != '\r' && text_[end] != '\n') ++end;
  if (end == text_.size()) {
    *line = text_.substr(pos_);
    pos_ = text_.size();
    return true;
  }
  *line = text_.substr(pos_, end - pos_);
  pos_ = end + 1;
  if (text_[end] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
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
