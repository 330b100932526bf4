// The tab-field splitter and the line coding of the device files, over the
// run's LineBuffer and FieldBuffer.
//
// SplitField cuts the next tab-separated field of LineBuffer into
// FieldBuffer, dropping every double quote; once a line is used up every
// further field is empty. ShiftLine codes a whole line into FieldBuffer: on
// encoding a tab becomes a space, a space "$" and every other byte the one
// four codes higher; decoding goes back.
#ifndef LUMBRA_RUN_TEXT_FIELDS_H_
#define LUMBRA_RUN_TEXT_FIELDS_H_

#include <string>
#include <string_view>

namespace lumbra {

struct RunContext;

void SplitField(std::string& line, std::string& field);
// Cuts n fields (none when n < 1); field then holds the n-th.
void SkipFields(std::string& line, std::string& field, int n);

void SplitField(RunContext& ctx);
void SkipFields(RunContext& ctx, int n);

// Bytes 252 to 255 have no coded counterpart: they are coded as their
// unaccented letters (u, y, t, y), so no line is ever cut short.
std::string EncodeLine(std::string_view line);
// Bytes 0 to 3 have no decoded counterpart and are dropped.
std::string DecodeLine(std::string_view line);

// Codes all of LineBuffer into FieldBuffer and leaves LineBuffer empty.
void ShiftLine(RunContext& ctx, bool encode);

// The text without leading and trailing blanks (spaces only).
std::string Trim(std::string_view text);

// Replaces RowBuffer by a copy of SideBuffer.
void CopySideBuffer(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_RUN_TEXT_FIELDS_H_
