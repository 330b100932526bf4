// A device's message list "messages.txt" and the mail lines applied to it.
// Input: the list, a NUL byte, then the mail lines.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "intake/device_mail.h"
#include "text/lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumbra;
  auto [messages, mail] = fuzz::SplitAtNul(fuzz::Bytes(data, size));
  std::vector<std::string> mail_lines = SplitLines(mail);
  std::string rewritten;
  if (ApplyMailToMessages(messages, mail_lines, &rewritten)) {
    // The list stays a list: every row has its ten columns.
    LineReader rows(rewritten);
    std::string_view row;
    while (rows.Next(&row)) {
      size_t tabs = 0;
      for (char c : row) tabs += c == '\t';
      fuzz::Require(tabs >= 9, "a rewritten message row lost columns");
    }
  }
  return 0;
}
