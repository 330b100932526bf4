// Names as the system holds them (Windows-1252 bytes, as the devices and the
// accounting packages write them) and as the wide Win32 calls take them.
// Always code page 1252 itself, never the machine's ANSI code page, which
// follows the locale and may be another. Windows only.
#ifndef LUMBRA_PLATFORM_WIN_TEXT_H_
#define LUMBRA_PLATFORM_WIN_TEXT_H_

#include <string>
#include <string_view>

#include "platform/status.h"

namespace lumbra {

// Every byte has a character in code page 1252 (the five unassigned ones map
// to control characters), so this never fails.
std::wstring WidenCp1252(std::string_view bytes);

// Fails, naming the text with "?" for what it cannot hold, when a character
// has no byte in code page 1252: Windows' "best fit" would turn "α" into "a"
// and so name another file. what says what the text is, for the message.
Status NarrowCp1252(std::wstring_view wide, std::string_view what, std::string* bytes);

// The same with "?" for every character code page 1252 cannot hold. For
// names that are only looked at: "?" cannot occur in a Windows file name, so
// such a name never opens another file.
std::string NarrowCp1252Lossy(std::wstring_view wide);

// The system's text for an error code (a Win32 code or an HRESULT), in one
// line, without its final full stop; empty when the system has none.
std::string SystemMessage(unsigned long code);

// The system's description of a Win32 error code, in one line.
std::string DescribeWinError(unsigned long code);

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_WIN_TEXT_H_
