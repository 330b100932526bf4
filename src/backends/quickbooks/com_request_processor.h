// The request processor QuickBooks installs on Windows: a COM object of
// kRequestProcessorClassId, called early-bound through the slots of
// kRequestProcessorInterfaceId. Texts go as BSTRs; the response comes back
// in Windows-1252, "?" standing for what that code page cannot hold. The
// session ticket goes back to the object exactly as it came.
#ifndef LUMBRA_BACKENDS_QUICKBOOKS_COM_REQUEST_PROCESSOR_H_
#define LUMBRA_BACKENDS_QUICKBOOKS_COM_REQUEST_PROCESSOR_H_

#include <cstdint>
#include <memory>

#include "backends/quickbooks/qbxml_processor.h"
#include "platform/call_thread.h"

namespace lumbra {

// A new object, created now; fails, with the system's description, where
// the class is not registered (no QuickBooks) or COM is missing. It is
// created and called on thread, which must outlive it; a call (its creation
// among them) that QuickBooks does not answer within limit_ms fails with
// "QuickBooks did not answer within 300 s", and every later one at once.
Status CreateComRequestProcessor(CallThread* thread, uint64_t limit_ms,
                                 std::unique_ptr<RequestProcessor>* processor);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_QUICKBOOKS_COM_REQUEST_PROCESSOR_H_
