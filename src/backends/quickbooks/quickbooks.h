// The QuickBooks back-ends: a list file in IIF format (iif_export.h), or
// qbXML requests to QuickBooks itself (qbxml_export.h).
#ifndef LUMBRA_BACKENDS_QUICKBOOKS_QUICKBOOKS_H_
#define LUMBRA_BACKENDS_QUICKBOOKS_QUICKBOOKS_H_

namespace lumbra {

struct RunContext;

void ExportQuickBooksIif(RunContext& ctx);
// Reaches QuickBooks through its request processor: on Windows its COM
// component, elsewhere the command in LUMBRA_QBXML_PROCESSOR.
void ExportQuickBooksQbxml(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_QUICKBOOKS_QUICKBOOKS_H_
