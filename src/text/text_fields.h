// The tab-field splitter and the line coding of the device files.
//
// SplitField cuts the next tab-separated field of a line into a field,
// dropping every double quote; once a line is used up every further field
// is empty. EncodeLine codes a whole line: a tab becomes a space, a space
// "$" and every other byte the one four codes higher; DecodeLine goes back.
#ifndef LUMBRA_TEXT_TEXT_FIELDS_H_
#define LUMBRA_TEXT_TEXT_FIELDS_H_

#include <string>
#include <string_view>

namespace lumbra {

void SplitField(std::string& line, std::string& field);
// Cuts n fields (none when n < 1); field then holds the n-th.
void SkipFields(std::string& line, std::string& field, int n);

// Bytes 252 to 255 have no coded counterpart: they are coded as their
// unaccented letters (u, y, t, y), so no line is ever cut short. Bytes 0x06
// and 0x1C, which would code to a line feed and to the coded tab, are coded
// as blanks, so a value never splits its row or its field on the device.
std::string EncodeLine(std::string_view line);
// The text as the devices get it back from a coded table: bytes 252 to 255
// (ü ý þ ÿ) as u, y, t, y. A name a device hands in is the master's name
// folded so; matching both sides folded finds the master's own spelling.
std::string FoldedAsDevicesSee(std::string_view text);
// Whether the text holds a byte the coding folds.
bool HasFoldedBytes(std::string_view text);
// Bytes 0 to 3 have no decoded counterpart and are dropped.
std::string DecodeLine(std::string_view line);

// The text without leading and trailing blanks (spaces only).
std::string Trim(std::string_view text);

}  // namespace lumbra

#endif  // LUMBRA_TEXT_TEXT_FIELDS_H_
