// The request processor QuickBooks installs on Windows: a COM object of
// kRequestProcessorClassId, called early-bound through the slots of
// kRequestProcessorInterfaceId. Texts go as BSTRs; the response comes back
// in Windows-1252, "?" standing for what that code page cannot hold. The
// session ticket goes back to the object exactly as it came.
#ifndef LUMBRA_BACKENDS_QUICKBOOKS_COM_REQUEST_PROCESSOR_H_
#define LUMBRA_BACKENDS_QUICKBOOKS_COM_REQUEST_PROCESSOR_H_

#include <memory>

#include "backends/quickbooks/qbxml_processor.h"

namespace lumbra {

// A new object, created now; fails, with the system's description, where
// the class is not registered (no QuickBooks) or COM is missing.
Status CreateComRequestProcessor(std::unique_ptr<RequestProcessor>* processor);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_QUICKBOOKS_COM_REQUEST_PROCESSOR_H_
