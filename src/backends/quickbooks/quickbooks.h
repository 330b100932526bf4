// The QuickBooks back-ends: an IIF list file, or qbXML requests.
#ifndef LUMBRA_BACKENDS_QUICKBOOKS_QUICKBOOKS_H_
#define LUMBRA_BACKENDS_QUICKBOOKS_QUICKBOOKS_H_

namespace lumbra {

struct RunContext;

void ExportQuickBooksIif(RunContext& ctx);
void ExportQuickBooksQbxml(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_QUICKBOOKS_QUICKBOOKS_H_
