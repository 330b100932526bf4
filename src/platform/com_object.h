// Objects of COM components: the outside programs that are reached only
// through their own automation interfaces on Windows (the QuickBooks request
// processor, the MoneyWorks application). Other platforms have no COM: there
// every object fails to be created, and the back-ends use their stand-ins.
//
// Every COM call of a pass, creation and release included, is made on one
// CallThread of the pass's own, which enters COM once as a single-threaded
// apartment; the pass waits for each call at most the limit its object was
// created with. An object that does not answer in time fails that call
// with Status::TimedOut, and every later call on the thread fails at once.
// Texts cross as BSTRs, converted from and to Windows-1252 explicitly.
#ifndef LUMBRA_PLATFORM_COM_OBJECT_H_
#define LUMBRA_PLATFORM_COM_OBJECT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/call_thread.h"
#include "platform/status.h"

namespace lumbra {

// Whether this platform has COM at all.
bool ComAvailable();

// A text a call gave back, in Windows-1252. lossy: some character had no
// byte there and became "?". exact holds it as the object gave it, so that
// an opaque text (a session ticket) can go back to the object unchanged.
// As an argument, a text with exact set is passed as exact, otherwise as
// bytes.
struct ComText {
  std::string bytes;
  bool lossy = false;
  std::wstring exact;
};

// A failed call's status message is the error's own description, as the
// object gave it (its error information), or else the system's text for
// the error code; LastError() names the code for the log.
class ComObject {
 public:
  virtual ~ComObject() = default;

  // Early-bound: the method in slot `slot` of the interface the object was
  // created for, counted from 0 after the seven slots every dispatch
  // interface begins with. Its arguments are the texts (as BSTRs), then the
  // number when one is given (a 32-bit integer), then, when result is
  // given, where the method puts the text it returns. Up to two texts.
  virtual Status CallSlot(int slot, const std::vector<ComText>& texts, const int32_t* number,
                          ComText* result) = 0;

  // Late-bound: the method named `method`, looked up through IDispatch,
  // with the texts as its arguments. *result (when given) gets the text it
  // returns, empty when it returns something else.
  virtual Status Invoke(std::string_view method, const std::vector<std::string>& texts,
                        ComText* result) = 0;

  // "HRESULT 0x80040408" for the last failed call; empty when none failed.
  virtual std::string LastError() const = 0;
};

// An object of the class class_id ("{...}") seen through the interface
// interface_id, an in-process or local server, created and called on
// thread (which must outlive it), each call waited for at most limit_ms.
Status CreateComObject(CallThread* thread, uint64_t limit_ms, std::string_view class_id,
                       std::string_view interface_id, std::unique_ptr<ComObject>* object);

// An object of the class registered under program identifier prog_id, seen
// through IDispatch, for late-bound calls; on thread as above.
Status CreateComObjectByName(CallThread* thread, uint64_t limit_ms, std::string_view prog_id,
                             std::unique_ptr<ComObject>* object);

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_COM_OBJECT_H_
