// The text utilities over the run's own buffers: LineBuffer and FieldBuffer
// for cutting and coding lines, RowBuffer and SideBuffer for the rows of a
// table being built.
#ifndef LUMBRA_BACKENDS_CONTEXT_RUN_BUFFERS_H_
#define LUMBRA_BACKENDS_CONTEXT_RUN_BUFFERS_H_

namespace lumbra {

struct RunContext;

// SplitField and SkipFields of text_fields.h, from LineBuffer into
// FieldBuffer.
void SplitField(RunContext& ctx);
void SkipFields(RunContext& ctx, int n);

// Codes all of LineBuffer into FieldBuffer and leaves LineBuffer empty.
void ShiftLine(RunContext& ctx, bool encode);

// Replaces RowBuffer by a copy of SideBuffer.
void CopySideBuffer(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_CONTEXT_RUN_BUFFERS_H_
