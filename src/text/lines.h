// Line-oriented text as the system reads and writes it: a read line ends at
// CR LF, a lone LF or a lone CR, and a last line without an end still counts;
// every written line ends with CR LF.
#ifndef LUMBRA_TEXT_LINES_H_
#define LUMBRA_TEXT_LINES_H_

#include <string>
#include <string_view>
#include <vector>

namespace lumbra {

// Walks the lines of a text without copying it. The text must outlive the
// reader.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}
  // Sets *line to the next line, without its end; false when none is left.
  bool Next(std::string_view* line);

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

std::vector<std::string> SplitLines(std::string_view text);

// Appends line and a CR LF to *out.
void AppendLine(std::string* out, std::string_view line);

}  // namespace lumbra

#endif  // LUMBRA_TEXT_LINES_H_
