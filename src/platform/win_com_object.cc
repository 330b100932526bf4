#include "platform/com_object.h"

#include <cstdio>
#include <functional>
#include <memory>

#include "platform/win_api.h"
#include "platform/win_text.h"

#include <objbase.h>
#include <oleauto.h>

namespace lumbra {
namespace {

// The slots every dispatch interface begins with: IUnknown's three and
// IDispatch's four.
constexpr int kDispatchSlots = 7;

// Entered by the first call made on a thread; left by LeaveApartment, run
// last on that thread.
thread_local HRESULT apartment = S_FALSE;
thread_local bool apartment_entered = false;

Status EnterApartment() {
  if (!apartment_entered) {
    apartment = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    apartment_entered = true;
  }
  if (SUCCEEDED(apartment)) return Status::OK();
  return Status::IOError("COM could not be started: " + SystemMessage(apartment));
}

void LeaveApartment() {
  if (apartment_entered && SUCCEEDED(apartment)) ::CoUninitialize();
  apartment_entered = false;
}

std::string HresultText(HRESULT hr) {
  char text[32];
  std::snprintf(text, sizeof text, "HRESULT 0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// The system's text for hr, or its number when the system has none.
std::string DescribeHresult(HRESULT hr) {
  std::string text = SystemMessage(static_cast<unsigned long>(hr));
  // What an office sees when the program is not installed, which not every
  // system (Wine) has a text for.
  if (text.empty() && hr == REGDB_E_CLASSNOTREG) text = "Class not registered";
  return text.empty() ? "COM error " + HresultText(hr).substr(8) : text;
}

ComText TextOf(BSTR bstr) {
  ComText text;
  if (bstr == nullptr) return text;
  text.exact.assign(bstr, ::SysStringLen(bstr));
  text.lossy = !NarrowCp1252(text.exact, "", &text.bytes).ok();
  return text;
}

// A BSTR freed when it goes out of scope.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const ComText& text) {
    std::wstring wide = text.exact.empty() ? WidenCp1252(text.bytes) : text.exact;
    b_ = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  ~Bstr() { ::SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }
  BSTR* out() {
    ::SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }

 private:
  BSTR b_ = nullptr;
};

// Calls the method in vtable slot `index` of object with these arguments.
template <typename... Args>
HRESULT CallVtable(IUnknown* object, int index, Args... args) {
  using Method = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, Args...);
  void** vtable = *reinterpret_cast<void***>(object);
  return reinterpret_cast<Method>(vtable[index])(object, args...);
}

// The object's own words on the failure it just reported, when it left
// any. On the thread of the call.
std::string ErrorInfoText() {
  IErrorInfo* info = nullptr;
  if (::GetErrorInfo(0, &info) != S_OK || info == nullptr) return std::string();
  BSTR description = nullptr;
  std::string text;
  if (SUCCEEDED(info->GetDescription(&description))) text = TextOf(description).bytes;
  ::SysFreeString(description);
  info->Release();
  return text;
}

// What a call made on the COM thread hands back to the pass. Shared, as a
// call that outlasts its limit finishes after the pass has stopped waiting.
struct Outcome {
  HRESULT hr = S_OK;
  std::string description;  // the object's own, when it gave one
  ComText result;
};

// On the COM thread: the method in vtable slot index of object.
Status CallSlotNow(IUnknown* object, int index, const std::vector<ComText>& texts,
                   const int32_t* number, bool wants_result, Outcome* outcome) {
  Bstr a(texts.size() > 0 ? texts[0] : ComText()), b(texts.size() > 1 ? texts[1] : ComText());
  Bstr out;
  const int shape = static_cast<int>(texts.size()) * 4 + (number != nullptr) * 2 + wants_result;
  ::SetErrorInfo(0, nullptr);  // what an earlier call left says nothing of this one
  HRESULT hr;
  switch (shape) {
    case 0:
      hr = CallVtable(object, index);
      break;
    case 1:
      hr = CallVtable(object, index, out.out());
      break;
    case 4:
      hr = CallVtable(object, index, a.get());
      break;
    case 5:
      hr = CallVtable(object, index, a.get(), out.out());
      break;
    case 7:
      hr = CallVtable(object, index, a.get(), *number, out.out());
      break;
    case 8:
      hr = CallVtable(object, index, a.get(), b.get());
      break;
    case 9:
      hr = CallVtable(object, index, a.get(), b.get(), out.out());
      break;
    default:
      return Status::InvalidArgument("no such kind of call");
  }
  outcome->hr = hr;
  if (FAILED(hr)) {
    outcome->description = ErrorInfoText();
  } else if (wants_result) {
    outcome->result = TextOf(out.get());
  }
  return Status::OK();
}

// On the COM thread: the method named method, through IDispatch.
Status InvokeNow(IUnknown* object, const std::string& method,
                 const std::vector<std::string>& texts, Outcome* outcome) {
  IDispatch* dispatch = nullptr;
  HRESULT hr = object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  if (FAILED(hr)) {
    outcome->hr = hr;
    return Status::OK();
  }
  std::wstring name = WidenCp1252(method);
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) {
    dispatch->Release();
    outcome->hr = hr;
    return Status::OK();
  }
  // IDispatch takes the arguments last to first.
  std::vector<VARIANT> args(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    VARIANT& arg = args[texts.size() - 1 - i];
    ::VariantInit(&arg);
    std::wstring wide = WidenCp1252(texts[i]);
    arg.vt = VT_BSTR;
    arg.bstrVal = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  DISPPARAMS params = {args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  VARIANT answer;
  ::VariantInit(&answer);
  EXCEPINFO exception = {};
  UINT bad_argument = 0;
  hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &answer,
                        &exception, &bad_argument);
  dispatch->Release();
  for (VARIANT& arg : args) ::VariantClear(&arg);
  if (hr == DISP_E_EXCEPTION) {
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    outcome->description = TextOf(exception.bstrDescription).bytes;
    if (FAILED(exception.scode)) hr = exception.scode;
  }
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
  outcome->hr = hr;
  if (SUCCEEDED(hr) && answer.vt == VT_BSTR) outcome->result = TextOf(answer.bstrVal);
  ::VariantClear(&answer);
  return Status::OK();
}

// An object made on a CallThread, called and released there.
class WinComObject : public ComObject {
 public:
  WinComObject(IUnknown* object, CallThread* thread, uint64_t limit_ms)
      : object_(object), thread_(thread), limit_ms_(limit_ms) {}
  // An object still inside a call that did not return is left alone.
  ~WinComObject() override {
    if (thread_->held()) return;
    IUnknown* object = object_;
    (void)thread_->Run(limit_ms_, [object] {
      object->Release();
      return Status::OK();
    });
  }

  Status CallSlot(int slot, const std::vector<ComText>& texts, const int32_t* number,
                  ComText* result) override {
    if (texts.size() > 2) return Status::InvalidArgument("more than two texts in one call");
    auto outcome = std::make_shared<Outcome>();
    IUnknown* object = object_;
    const int index = kDispatchSlots + slot;
    const bool has_number = number != nullptr, wants_result = result != nullptr;
    const int32_t n = has_number ? *number : 0;
    return Finish(
        [=] {
          return CallSlotNow(object, index, texts, has_number ? &n : nullptr, wants_result,
                             outcome.get());
        },
        outcome, result);
  }

  Status Invoke(std::string_view method, const std::vector<std::string>& texts,
                ComText* result) override {
    auto outcome = std::make_shared<Outcome>();
    IUnknown* object = object_;
    std::string name(method);
    Status s = Finish([=] { return InvokeNow(object, name, texts, outcome.get()); }, outcome,
                      nullptr);
    if (s.ok() && result != nullptr) *result = std::move(outcome->result);
    return s;
  }

  std::string LastError() const override { return last_error_; }

 private:
  // Runs call on the thread and reads what it left in outcome.
  Status Finish(std::function<Status()> call, const std::shared_ptr<Outcome>& outcome,
                ComText* result) {
    const bool held = thread_->held();
    Status s = thread_->Run(limit_ms_, std::move(call));
    if (s.IsTimedOut()) last_error_ = held ? "no call made" : "the call has not returned";
    if (!s.ok()) return s;
    if (FAILED(outcome->hr)) return Failed(outcome->hr, outcome->description);
    if (result != nullptr) *result = std::move(outcome->result);
    return Status::OK();
  }

  Status Failed(HRESULT hr, const std::string& description) {
    last_error_ = HresultText(hr);
    return Status::IOError(description.empty() ? DescribeHresult(hr) : description);
  }

  IUnknown* object_;
  CallThread* thread_;
  uint64_t limit_ms_;
  std::string last_error_;
};

Status CreateFailed(HRESULT hr) {
  std::string text = DescribeHresult(hr);
  const std::string code = HresultText(hr);
  if (text.find(code.substr(8)) == std::string::npos) text += " (" + code + ")";
  return Status::IOError(text);
}

// On the COM thread.
Status CreateNow(const CLSID& class_id, const IID& interface_id, IUnknown** created) {
  HRESULT hr = ::CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                  interface_id, reinterpret_cast<void**>(created));
  if (SUCCEEDED(hr) && *created != nullptr) return Status::OK();
  *created = nullptr;
  return CreateFailed(FAILED(hr) ? hr : E_NOINTERFACE);
}

// create, run on thread in its apartment, gives the object.
Status CreateOnThread(CallThread* thread, uint64_t limit_ms,
                      std::function<Status(IUnknown**)> create,
                      std::unique_ptr<ComObject>* object) {
  object->reset();
  thread->AtEnd(LeaveApartment);
  auto created = std::make_shared<IUnknown*>(nullptr);
  Status s = thread->Run(limit_ms, [create, created] {
    Status entered = EnterApartment();
    return entered.ok() ? create(created.get()) : entered;
  });
  if (!s.ok()) return s;
  object->reset(new WinComObject(*created, thread, limit_ms));
  return Status::OK();
}

}  // namespace

bool ComAvailable() { return true; }

Status CreateComObject(CallThread* thread, uint64_t limit_ms, std::string_view class_id,
                       std::string_view interface_id, std::unique_ptr<ComObject>* object) {
  std::wstring class_text = WidenCp1252(class_id), interface_text = WidenCp1252(interface_id);
  return CreateOnThread(thread, limit_ms, [class_text, interface_text](IUnknown** created) {
    CLSID clsid;
    IID iid;
    HRESULT hr = ::CLSIDFromString(class_text.c_str(), &clsid);
    if (SUCCEEDED(hr)) hr = ::IIDFromString(interface_text.c_str(), &iid);
    if (FAILED(hr)) return CreateFailed(hr);
    return CreateNow(clsid, iid, created);
  }, object);
}

Status CreateComObjectByName(CallThread* thread, uint64_t limit_ms, std::string_view prog_id,
                             std::unique_ptr<ComObject>* object) {
  std::string prog(prog_id);
  return CreateOnThread(thread, limit_ms, [prog](IUnknown** created) {
    std::wstring name = WidenCp1252(prog);
    CLSID clsid;
    HRESULT hr = ::CLSIDFromProgID(name.c_str(), &clsid);
    if (FAILED(hr)) {
      return Status::IOError("no COM class \"" + prog +
                             "\" is registered: " + CreateFailed(hr).message());
    }
    return CreateNow(clsid, IID_IDispatch, created);
  }, object);
}

}  // namespace lumbra
