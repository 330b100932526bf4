// Line-oriented text as the system reads and writes it. Every written line
// ends with CR LF. A text is read by its own line ends: one that holds a
// carriage return anywhere ends its lines at CR LF or a lone CR, and a lone
// line feed there is part of a line (a note field with a bare line break
// stays in its record); a text without any carriage return (edited on
// Linux) ends its lines at LF. A last line without an end still counts.
// The choice is made once per text, so readers hand over a whole file.
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
  explicit LineReader(std::string_view text);
  // Sets *line to the next line, without its end; false when none is left.
  bool Next(std::string_view* line);

 private:
  std::string_view text_;
  size_t pos_ = 0;
  // The byte that ends a line: '\r' (followed by an optional '\n') or '\n'.
  char end_;
};

std::vector<std::string> SplitLines(std::string_view text);

// Appends line and a CR LF to *out.
void AppendLine(std::string* out, std::string_view line);

}  // namespace lumbra

#endif  // LUMBRA_TEXT_LINES_H_
