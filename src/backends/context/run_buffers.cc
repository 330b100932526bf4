#include "backends/context/run_buffers.h"

#include "backends/context/run_context.h"
#include "text/text_fields.h"

namespace lumbra {

void SplitField(RunContext& ctx) { SplitField(ctx.LineBuffer, ctx.FieldBuffer); }

void SkipFields(RunContext& ctx, int n) { SkipFields(ctx.LineBuffer, ctx.FieldBuffer, n); }

void ShiftLine(RunContext& ctx, bool encode) {
  ctx.FieldBuffer = encode ? EncodeLine(ctx.LineBuffer) : DecodeLine(ctx.LineBuffer);
  ctx.LineBuffer.clear();
}

void CopySideBuffer(RunContext& ctx) {
  ctx.RowBuffer.Clear();
  for (size_t i = 0; i < ctx.SideBuffer.Count(); ++i) ctx.RowBuffer.Add(ctx.SideBuffer.At(i));
}

}  // namespace lumbra
