// Stand-ins for the two COM components the Windows program talks to, in one
// in-process server that the Windows tests register in their Wine prefix:
//
// - the QuickBooks request processor: its class and interface identifiers,
//   the five methods in their slots after IDispatch's. Begin session needs
//   an open connection and gives a ticket of its own ("T<n>" and a
//   character Windows-1252 lacks), which the other calls must give back
//   unchanged. A request "<...><XQueryRq ...>" is answered with the file
//   "<company file>\XQueryRq.xml", read as Windows-1252 or, when it begins
//   with a UTF-8 byte order mark, as UTF-8.
// - "MoneyWorks.Application", late-bound only: Open(document) takes a folder
//   of exports, Export(table, search, path) copies "<document>\<table>.txt"
//   to path, Quit().
//
// Set through the environment of the process that loads it:
//   LUMBRA_FAKE_COM_LOG        each call and its arguments, one line each,
//                              tab-separated, appended to this file
//   LUMBRA_FAKE_QBXML_FAIL     the processor's step that fails: Create or a
//                              method's name; "Step:text" gives the error
//                              information "text", "Step" alone none
//   LUMBRA_FAKE_MONEYWORKS_FAIL  Create, Open, or a table whose Export fails
// In either, "Step:hang" makes the step not return for a minute (a program
// waiting for someone at its screen) before it fails.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

namespace {

const CLSID kProcessorClass = {
    0x2D0E74B6, 0x021A, 0x11D5, {0x90, 0x54, 0x00, 0x50, 0x8B, 0xF7, 0x0A, 0x94}};
const IID kProcessorInterface = {
    0xAC48EB1D, 0xE953, 0x446B, {0xA6, 0x3C, 0x77, 0xE7, 0x86, 0x2D, 0xE4, 0xB8}};
// Made up for the fake; the program finds it by name.
const CLSID kMoneyWorksClass = {
    0x5F1D9C3E, 0x7A2B, 0x4E55, {0x9B, 0x0C, 0x2D, 0x6A, 0x41, 0xE8, 0xF0, 0x17}};

constexpr DWORD kHangMs = 60000;
constexpr HRESULT kRefused = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0408);

std::wstring Variable(const wchar_t* name) {
  wchar_t value[4096];
  DWORD n = GetEnvironmentVariableW(name, value, 4096);
  return n > 0 && n < 4096 ? std::wstring(value, n) : std::wstring();
}

std::string Narrow(const std::wstring& wide, UINT code_page = 1252) {
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(code_page, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string bytes(n, '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), int(wide.size()), bytes.data(), n, nullptr,
                      nullptr);
  return bytes;
}

std::wstring Widen(const std::string& bytes, UINT code_page = 1252) {
  if (bytes.empty()) return std::wstring();
  int n = MultiByteToWideChar(code_page, 0, bytes.data(), int(bytes.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(code_page, 0, bytes.data(), int(bytes.size()), wide.data(), n);
  return wide;
}

std::wstring Text(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

void Log(const std::wstring& line) {
  std::wstring path = Variable(L"LUMBRA_FAKE_COM_LOG");
  if (path.empty()) return;
  FILE* f = _wfopen(path.c_str(), L"ab");
  if (!f) return;
  std::string bytes = Narrow(line) + "\r\n";
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

bool ReadBytes(const std::wstring& path, std::string* bytes) {
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return false;
  char buffer[65536];
  size_t n;
  bytes->clear();
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, n);
  fclose(f);
  return true;
}

// The step named to fail, and its error information ("" for none).
bool FailsAt(const wchar_t* variable, const std::wstring& step, std::wstring* description) {
  std::wstring rule = Variable(variable);
  size_t colon = rule.find(L':');
  if (rule.substr(0, colon) != step) return false;
  *description = colon == std::wstring::npos ? std::wstring() : rule.substr(colon + 1);
  if (*description == L"hang") {
    Sleep(kHangMs);
    description->clear();
  }
  return true;
}

HRESULT Fail(const std::wstring& description, HRESULT without = E_ACCESSDENIED) {
  if (description.empty()) return without;
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return kRefused;
}

LONG g_tickets = 0;

// IUnknown and IDispatch's type information, which neither fake has.
template <typename Base>
class Object : public Base {
 public:
  explicit Object(const IID& iid, const wchar_t* name) : iid_(iid), name_(name) {}
  virtual ~Object() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == iid_) {
      *out = this;
      this->AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) {
      Log(std::wstring(L"Release\t") + name_);
      delete this;
    }
    return n;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

 private:
  IID iid_;
  const wchar_t* name_;
  LONG refs_ = 1;
};

// The request processor's interface: IDispatch's slots, then its own five.
struct IRequestProcessor : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE ProcessRequest(BSTR ticket, BSTR request, BSTR* response) = 0;
  virtual HRESULT STDMETHODCALLTYPE OpenConnection(BSTR app_id, BSTR app_name) = 0;
  virtual HRESULT STDMETHODCALLTYPE CloseConnection() = 0;
  virtual HRESULT STDMETHODCALLTYPE BeginSession(BSTR company_file, int mode, BSTR* ticket) = 0;
  virtual HRESULT STDMETHODCALLTYPE EndSession(BSTR ticket) = 0;
};

class RequestProcessor : public Object<IRequestProcessor> {
 public:
  RequestProcessor() : Object(kProcessorInterface, L"RequestProcessor") {}
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;  // called early-bound only
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE OpenConnection(BSTR app_id, BSTR app_name) override {
    Log(L"OpenConnection\t" + Text(app_id) + L"\t" + Text(app_name));
    if (HRESULT hr; Refused(L"OpenConnection", &hr)) return hr;
    if (connected_) return E_UNEXPECTED;
    connected_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BeginSession(BSTR company_file, int mode, BSTR* ticket) override {
    *ticket = nullptr;
    Log(L"BeginSession\t" + Text(company_file) + L"\t" + std::to_wstring(mode));
    if (HRESULT hr; Refused(L"BeginSession", &hr)) return hr;
    if (!connected_ || !ticket_.empty()) return E_UNEXPECTED;
    company_ = Text(company_file);
    ticket_ = L"T" + std::to_wstring(InterlockedIncrement(&g_tickets)) + L"\u03A9";
    *ticket = SysAllocString(ticket_.c_str());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ProcessRequest(BSTR ticket, BSTR request, BSTR* response) override {
    *response = nullptr;
    Log(L"ProcessRequest\t" + Text(ticket) + L"\t" + Text(request));
    if (HRESULT hr; Refused(L"ProcessRequest", &hr)) return hr;
    if (ticket_.empty() || Text(ticket) != ticket_) return E_INVALIDARG;
    std::wstring text = Text(request);
    size_t end = text.find(L"QueryRq ");
    size_t start = end == std::wstring::npos ? end : text.rfind(L'<', end);
    if (start == std::wstring::npos) return Fail(L"not a query request");
    std::string answer;
    std::wstring file = company_ + L"\\" + text.substr(start + 1, end + 7 - start - 1) + L".xml";
    if (!ReadBytes(file, &answer)) return Fail(L"no answer file " + file);
    bool utf8 = answer.rfind("\xEF\xBB\xBF", 0) == 0;
    std::wstring wide = utf8 ? Widen(answer.substr(3), CP_UTF8) : Widen(answer);
    *response = SysAllocStringLen(wide.data(), UINT(wide.size()));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EndSession(BSTR ticket) override {
    Log(L"EndSession\t" + Text(ticket));
    if (HRESULT hr; Refused(L"EndSession", &hr)) return hr;
    if (ticket_.empty() || Text(ticket) != ticket_) return E_INVALIDARG;
    ticket_.clear();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CloseConnection() override {
    Log(L"CloseConnection");
    if (HRESULT hr; Refused(L"CloseConnection", &hr)) return hr;
    if (!connected_) return E_UNEXPECTED;
    connected_ = false;
    return S_OK;
  }

 private:
  static bool Refused(const wchar_t* step, HRESULT* hr) {
    std::wstring description;
    if (!FailsAt(L"LUMBRA_FAKE_QBXML_FAIL", step, &description)) return false;
    *hr = Fail(description);
    return true;
  }

  bool connected_ = false;
  std::wstring company_, ticket_;
};

class MoneyWorks : public Object<IDispatch> {
 public:
  MoneyWorks() : Object(IID_IDispatch, L"MoneyWorks.Application") {}
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    static const wchar_t* const kMethods[] = {L"Open", L"Export", L"Quit"};
    if (count != 1) return DISP_E_UNKNOWNNAME;
    for (DISPID id = 0; id < 3; ++id) {
      if (_wcsicmp(names[0], kMethods[id]) == 0) {
        ids[0] = id + 1;
        return S_OK;
      }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT*) override {
    if (result != nullptr) VariantInit(result);
    std::wstring args[3];
    UINT n = params->cArgs;
    static const UINT kCounts[] = {1, 3, 0};
    if (id < 1 || id > 3) return DISP_E_MEMBERNOTFOUND;
    if (n != kCounts[id - 1] || params->cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < n; ++i) {  // last argument first
      const VARIANT& v = params->rgvarg[n - 1 - i];
      if (v.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
      args[i] = Text(v.bstrVal);
    }
    std::wstring description;
    switch (id) {
      case 1:
        Log(L"Open\t" + args[0]);
        if (FailsAt(L"LUMBRA_FAKE_MONEYWORKS_FAIL", L"Open", &description) ||
            GetFileAttributesW(args[0].c_str()) == INVALID_FILE_ATTRIBUTES) {
          return Exception(exception, L"Could not open the document " + args[0]);
        }
        document_ = args[0];
        return S_OK;
      case 2: {
        Log(L"Export\t" + args[0] + L"\t" + args[1] + L"\t" + args[2]);
        if (document_.empty()) return Exception(exception, L"No document is open");
        std::string bytes;
        if (FailsAt(L"LUMBRA_FAKE_MONEYWORKS_FAIL", args[0], &description) ||
            !ReadBytes(document_ + L"\\" + args[0] + L".txt", &bytes)) {
          return Exception(exception, L"The " + args[0] + L" table could not be exported");
        }
        FILE* f = _wfopen(args[2].c_str(), L"wb");
        if (!f) return Exception(exception, L"Cannot write " + args[2]);
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        if (result != nullptr) {
          result->vt = VT_BSTR;
          result->bstrVal = SysAllocString(L"");
        }
        return S_OK;
      }
      default:
        Log(L"Quit");
        document_.clear();
        return S_OK;
    }
  }

 private:
  static HRESULT Exception(EXCEPINFO* exception, const std::wstring& description) {
    if (exception != nullptr) {
      *exception = EXCEPINFO{};
      exception->scode = kRefused;
      exception->bstrDescription = SysAllocString(description.c_str());
    }
    return DISP_E_EXCEPTION;
  }

  std::wstring document_;
};

class Factory : public IClassFactory {
 public:
  explicit Factory(bool processor) : processor_(processor) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    IUnknown* object = processor_ ? static_cast<IUnknown*>(new RequestProcessor())
                                  : static_cast<IUnknown*>(new MoneyWorks());
    Log(processor_ ? L"Create\tRequestProcessor" : L"Create\tMoneyWorks.Application");
    HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  bool processor_;
};

Factory g_processor_factory(true), g_moneyworks_factory(false);

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  *out = nullptr;
  std::wstring ignored;
  if (clsid == kProcessorClass) {
    if (FailsAt(L"LUMBRA_FAKE_QBXML_FAIL", L"Create", &ignored)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_processor_factory.QueryInterface(riid, out);
  }
  if (clsid == kMoneyWorksClass) {
    if (FailsAt(L"LUMBRA_FAKE_MONEYWORKS_FAIL", L"Create", &ignored)) {
      return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_moneyworks_factory.QueryInterface(riid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
