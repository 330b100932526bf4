#include "platform/com_object.h"

#include <cstdio>

#include "platform/win_api.h"
#include "platform/win_text.h"

#include <objbase.h>
#include <oleauto.h>

namespace lumbra {
namespace {

// The slots every dispatch interface begins with: IUnknown's three and
// IDispatch's four.
constexpr int kDispatchSlots = 7;

// Entered once, by the first object the pass creates; the process's end
// leaves it.
Status EnterApartment() {
  static const HRESULT entered = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(entered)) return Status::OK();
  return Status::IOError("COM could not be started: " + SystemMessage(entered));
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

class WinComObject : public ComObject {
 public:
  explicit WinComObject(IUnknown* object) : object_(object) {}
  ~WinComObject() override { object_->Release(); }

  Status CallSlot(int slot, const std::vector<ComText>& texts, const int32_t* number,
                  ComText* result) override {
    if (texts.size() > 2) return Status::InvalidArgument("more than two texts in one call");
    Bstr a(texts.size() > 0 ? texts[0] : ComText()), b(texts.size() > 1 ? texts[1] : ComText());
    Bstr out;
    const int index = kDispatchSlots + slot;
    const int shape =
        static_cast<int>(texts.size()) * 4 + (number != nullptr) * 2 + (result != nullptr);
    ::SetErrorInfo(0, nullptr);  // what an earlier call left says nothing of this one
    HRESULT hr;
    switch (shape) {
      case 0:
        hr = CallVtable(object_, index);
        break;
      case 1:
        hr = CallVtable(object_, index, out.out());
        break;
      case 4:
        hr = CallVtable(object_, index, a.get());
        break;
      case 5:
        hr = CallVtable(object_, index, a.get(), out.out());
        break;
      case 7:
        hr = CallVtable(object_, index, a.get(), *number, out.out());
        break;
      case 8:
        hr = CallVtable(object_, index, a.get(), b.get());
        break;
      case 9:
        hr = CallVtable(object_, index, a.get(), b.get(), out.out());
        break;
      default:
        return Status::InvalidArgument("no such kind of call");
    }
    if (FAILED(hr)) return Failed(hr, ErrorInfoText());
    if (result != nullptr) *result = TextOf(out.get());
    return Status::OK();
  }

  Status Invoke(std::string_view method, const std::vector<std::string>& texts,
                ComText* result) override {
    IDispatch* dispatch = nullptr;
    HRESULT hr = object_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr)) return Failed(hr, "");
    std::wstring name = WidenCp1252(method);
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
      dispatch->Release();
      return Failed(hr, "");
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
    std::string description;
    if (hr == DISP_E_EXCEPTION) {
      if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
      description = TextOf(exception.bstrDescription).bytes;
      if (FAILED(exception.scode)) hr = exception.scode;
    }
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    if (FAILED(hr)) {
      ::VariantClear(&answer);
      return Failed(hr, description);
    }
    if (result != nullptr) *result = answer.vt == VT_BSTR ? TextOf(answer.bstrVal) : ComText();
    ::VariantClear(&answer);
    return Status::OK();
  }

  std::string LastError() const override { return last_error_; }

 private:
  // The object's own words on the failure it just reported, when it left
  // any.
  static std::string ErrorInfoText() {
    IErrorInfo* info = nullptr;
    if (::GetErrorInfo(0, &info) != S_OK || info == nullptr) return std::string();
    BSTR description = nullptr;
    std::string text;
    if (SUCCEEDED(info->GetDescription(&description))) text = TextOf(description).bytes;
    ::SysFreeString(description);
    info->Release();
    return text;
  }

  Status Failed(HRESULT hr, const std::string& description) {
    last_error_ = HresultText(hr);
    return Status::IOError(description.empty() ? DescribeHresult(hr) : description);
  }

  IUnknown* object_;
  std::string last_error_;
};

Status CreateFailed(HRESULT hr) {
  std::string text = DescribeHresult(hr);
  const std::string code = HresultText(hr);
  if (text.find(code.substr(8)) == std::string::npos) text += " (" + code + ")";
  return Status::IOError(text);
}

Status Create(const CLSID& class_id, const IID& interface_id, std::unique_ptr<ComObject>* object) {
  IUnknown* created = nullptr;
  HRESULT hr = ::CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                  interface_id, reinterpret_cast<void**>(&created));
  if (FAILED(hr) || created == nullptr) return CreateFailed(FAILED(hr) ? hr : E_NOINTERFACE);
  object->reset(new WinComObject(created));
  return Status::OK();
}

}  // namespace

bool ComAvailable() { return true; }

Status CreateComObject(std::string_view class_id, std::string_view interface_id,
                       std::unique_ptr<ComObject>* object) {
  object->reset();
  Status s = EnterApartment();
  if (!s.ok()) return s;
  std::wstring class_text = WidenCp1252(class_id), interface_text = WidenCp1252(interface_id);
  CLSID clsid;
  IID iid;
  HRESULT hr = ::CLSIDFromString(class_text.c_str(), &clsid);
  if (SUCCEEDED(hr)) hr = ::IIDFromString(interface_text.c_str(), &iid);
  if (FAILED(hr)) return CreateFailed(hr);
  return Create(clsid, iid, object);
}

Status CreateComObjectByName(std::string_view prog_id, std::unique_ptr<ComObject>* object) {
  object->reset();
  Status s = EnterApartment();
  if (!s.ok()) return s;
  std::wstring name = WidenCp1252(prog_id);
  CLSID clsid;
  HRESULT hr = ::CLSIDFromProgID(name.c_str(), &clsid);
  if (FAILED(hr)) {
    return Status::IOError("no COM class \"" + std::string(prog_id) +
                           "\" is registered: " + CreateFailed(hr).message());
  }
  return Create(clsid, IID_IDispatch, object);
}

}  // namespace lumbra
