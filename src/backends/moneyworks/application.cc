#include "backends/moneyworks/application.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "backends/moneyworks/com_application.h"
#include "platform/com_object.h"
#include "platform/env.h"
#include "text/cp1252.h"
#include "text/lines.h"

namespace lumbra::moneyworks {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = LowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A "%" not followed by two hex digits stays as written.
std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// user:password, split at the first colon; both decoded.
void SplitLogin(std::string_view login, std::string* name, std::string* password) {
  size_t colon = login.find(':');
  *name = PercentDecode(login.substr(0, colon));
  *password =
      colon == std::string_view::npos ? std::string() : PercentDecode(login.substr(colon + 1));
}

std::string Base64(std::string_view in) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(in[i]) << 16 | static_cast<uint8_t>(in[i + 1]) << 8 |
                 static_cast<uint8_t>(in[i + 2]);
    for (int shift : {18, 12, 6, 0}) out.push_back(kAlphabet[(v >> shift) & 63]);
  }
  if (i < in.size()) {
    uint32_t v = static_cast<uint8_t>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<uint8_t>(in[i + 1]) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(i + 1 < in.size() ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string BasicAuthorization(std::string_view name, std::string_view realm,
                               std::string_view password) {
  std::string credentials;
  credentials.append(name).append(":").append(realm).append(":").append(password);
  return "Authorization: Basic " + Base64(credentials);
}

// ---------------------------------------------------------------------------
// What each table's export holds. Position p (counted from 1) of an exported
// line holds the named MoneyWorks field; positions not listed stay empty.

constexpr std::string_view kStockedFlag = "(stocked)";

struct Column {
  int position;
  std::string_view field;
};

constexpr Column kNameColumns[] = {
    {1, "Code"},       {2, "Name"},       {3, "Contact"},    {5, "Address1"},
    {6, "Address2"},   {7, "Address3"},   {9, "Delivery1"},  {10, "Delivery2"},
    {11, "Delivery3"}, {13, "Phone"},     {14, "Fax"},       {19, "CustomerType"},
    {29, "Comment"},   {40, "eMail"},     {41, "Mobile"},    {61, "DBalance"}};
constexpr Column kAccountColumns[] = {{1, "Code"}, {2, "Description"}, {3, "Type"}};
// Position 11 is 1 for a stocked product (a stock account and type "P") and
// 0 for the rest, worked out here from the two fields.
constexpr Column kProductColumns[] = {
    {1, "Code"},      {2, "Supplier"},   {4, "Description"}, {5, "Comment"},
    {11, kStockedFlag}, {13, "SellUnit"}, {14, "SellPrice"},  {33, "CostPrice"},
    {44, "StockOnHand"}};
constexpr Column kJobColumns[] = {
    {1, "Code"}, {2, "Description"}, {4, "Client"}, {5, "StartDate"}, {10, "EndDate"}};

struct TableLayout {
  std::string_view table;
  std::span<const Column> columns;  // in position order
};

constexpr TableLayout kLayouts[] = {{"Name", kNameColumns},
                                    {"Account", kAccountColumns},
                                    {"Product", kProductColumns},
                                    {"Job", kJobColumns}};

const TableLayout* LayoutOf(std::string_view table) {
  for (const TableLayout& layout : kLayouts) {
    if (layout.table == table) return &layout;
  }
  return nullptr;
}

// The fields asked of the server, in the order they come back. Each table's
// last one is a number, a type or a date, which never holds a line break.
std::vector<std::string_view> FetchedFields(const TableLayout& layout) {
  std::vector<std::string_view> fields;
  for (const Column& c : layout.columns) {
    if (c.field == kStockedFlag) {
      fields.push_back("StockAcct");
      fields.push_back("Type");
    } else {
      fields.push_back(c.field);
    }
  }
  return fields;
}

// The report layout: the fields as bracketed names joined by tabs, one
// record a line, so the answer's layout does not depend on the server.
std::string ExportTemplate(const std::vector<std::string_view>& fields) {
  std::string format;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) format.push_back('\t');
    format.append("[").append(fields[i]).append("]");
  }
  format.push_back('\n');
  return format;
}

// Cuts the server's answer into records of `fields` tab-separated values and
// calls take_record with each. A line with too few tabs continues on the next
// line (a value holding a line break); the break becomes a blank. A line
// that ends in CR loses it; empty lines between records are passed over.
template <typename TakeRecord>
void CutRecords(std::string_view text, size_t fields, TakeRecord take_record) {
  std::string pending;
  bool has_pending = false;
  size_t tabs = 0;
  while (!text.empty()) {
    size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!has_pending) {
      if (line.empty()) continue;
      pending.assign(line);
      has_pending = true;
      tabs = 0;
    } else {
      pending.push_back(' ');
      pending.append(line);
    }
    for (char c : line) tabs += c == '\t';
    if (tabs + 1 >= fields) {
      take_record(pending);
      has_pending = false;
    }
  }
  if (has_pending) take_record(pending);
}

// The export file: the heading line, then one line per record with each
// value at its position. Values are Windows-1252 already.
std::string ScratchText(const TableLayout& layout, std::string_view text) {
  const std::vector<std::string_view> fetched = FetchedFields(layout);
  const int width = layout.columns.back().position;

  std::vector<std::string> line(width);
  std::string out, joined;
  auto append_line = [&] {
    joined.clear();
    for (int i = 0; i < width; ++i) {
      if (i > 0) joined.push_back('\t');
      joined += line[i];
    }
    AppendLine(&out, joined);
  };

  for (const Column& c : layout.columns) {
    line[c.position - 1] = c.field == kStockedFlag ? "Stocked" : std::string(c.field);
  }
  append_line();

  std::vector<std::string> values;
  CutRecords(text, fetched.size(), [&](std::string& record) {
    // A lone CR left inside a value would end the line when it is read back.
    for (char& c : record) {
      if (c == '\r') c = ' ';
    }
    values.assign(fetched.size(), std::string());
    std::string_view rest = record;
    for (size_t i = 0; i < fetched.size(); ++i) {
      size_t tab = rest.find('\t');
      values[i] = rest.substr(0, tab);
      if (tab == std::string_view::npos) break;
      rest.remove_prefix(tab + 1);
    }
    std::fill(line.begin(), line.end(), std::string());
    size_t v = 0;
    for (const Column& c : layout.columns) {
      if (c.field == kStockedFlag) {
        const std::string& stock_account = values[v++];
        const std::string& type = values[v++];
        line[c.position - 1] = !stock_account.empty() && type == "P" ? "1" : "0";
      } else {
        line[c.position - 1] = values[v++];
      }
    }
    append_line();
  });
  return out;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kServerError = "[ERROR]";

// The server's own words on a refusal: the first line of an "[ERROR]" body,
// shortened for the log.
std::string ErrorText(std::string_view body) {
  if (body.starts_with(kUtf8Bom)) body.remove_prefix(kUtf8Bom.size());
  if (!body.starts_with(kServerError)) return {};
  std::string_view first = body.substr(0, body.find_first_of("\r\n"));
  return Utf8ToCp1252(first.substr(0, 200));
}

// Datacentre puts "Login_Required" into its Server header, on every answer,
// when its folders have passwords of their own.
bool WantsFolderLogin(const HttpResponse& response) {
  return response.Header("Server").find("Login_Required") != std::string_view::npos;
}

}  // namespace

std::string DocumentUrl::ServerUrl() const {
  return std::string(https ? "https://" : "http://") + host + ":" + std::to_string(port);
}

std::string DocumentUrl::Describe() const { return ServerUrl() + "/" + document; }

Status ParseDocumentUrl(std::string_view data_path, DocumentUrl* url) {
  *url = DocumentUrl();
  while (!data_path.empty() && data_path.front() == ' ') data_path.remove_prefix(1);
  while (!data_path.empty() && data_path.back() == ' ') data_path.remove_suffix(1);

  std::string_view rest = data_path;
  if (StartsWithNoCase(rest, "moneyworks://")) {
    rest.remove_prefix(13);
  } else if (StartsWithNoCase(rest, "http://")) {
    rest.remove_prefix(7);
  } else if (StartsWithNoCase(rest, "https://")) {
    rest.remove_prefix(8);
    url->https = true;
  } else {
    // The text itself is left out of the message: it may hold a password.
    return Status::NotSupported(
        "DataPath is not a MoneyWorks Datacentre URL (moneyworks://, http:// or https://); "
        "documents on disk cannot be opened on this platform");
  }

  size_t authority_end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authority_end);
  rest.remove_prefix(authority_end == std::string_view::npos ? rest.size() : authority_end);

  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    url->has_login = true;
    SplitLogin(authority.substr(0, at), &url->user, &url->password);
    authority.remove_prefix(at + 1);
  }

  std::string_view host = authority, port;
  if (!authority.empty() && authority.front() == '[') {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      return Status::InvalidArgument("bad server address in DataPath");
    }
    host = authority.substr(0, close + 1);
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return Status::InvalidArgument("bad server address in DataPath");
      port = after.substr(1);
    }
  } else {
    size_t colon = authority.find(':');
    if (colon != std::string_view::npos) {
      host = authority.substr(0, colon);
      port = authority.substr(colon + 1);
    }
  }
  if (host.empty() || host == "[]") return Status::InvalidArgument("DataPath names no server");
  url->host = std::string(host);
  if (!port.empty()) {
    int value = 0;
    for (char c : port) {
      if (c < '0' || c > '9' || value > 65535) {
        return Status::InvalidArgument("bad port in DataPath");
      }
      value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return Status::InvalidArgument("bad port in DataPath");
    url->port = value;
  }

  size_t query_at = rest.find_first_of("?#");
  std::string_view path = rest.substr(0, query_at);
  std::string_view query;
  if (query_at != std::string_view::npos && rest[query_at] == '?') {
    query = rest.substr(query_at + 1);
    query = query.substr(0, query.find('#'));
  }
  while (!path.empty() && path.front() == '/') path.remove_prefix(1);
  url->document = PercentDecode(path);
  if (url->document.empty()) {
    return Status::InvalidArgument("DataPath names no MoneyWorks document");
  }

  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    query.remove_prefix(amp == std::string_view::npos ? query.size() : amp + 1);
    if (pair.substr(0, 7) == "folder=") {
      url->has_folder_login = true;
      SplitLogin(pair.substr(7), &url->folder, &url->folder_password);
    }
  }
  return Status::OK();
}

std::string UrlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    uint8_t c = static_cast<uint8_t>(ch);
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

Status Application::Open(std::string_view document) {
  document_.reset();
  folder_login_ = false;
  DocumentUrl url;
  Status s = ParseDocumentUrl(document, &url);
  if (!s.ok()) return s;
  // The server's version needs no login; its answer tells whether the
  // folders want one.
  HttpResponse response;
  s = http_->Get(url.ServerUrl() + "/REST//version", {}, &response);
  if (!s.ok()) return Status::IOError(url.ServerUrl() + ": " + s.message());
  std::string error = ErrorText(response.body);
  if (response.status != 200 || !error.empty()) {
    return Status::IOError(url.ServerUrl() + " is not a Datacentre server: HTTP " +
                           std::to_string(response.status) + " " + error);
  }
  folder_login_ = WantsFolderLogin(response) && url.has_folder_login;
  document_ = std::move(url);
  return Status::OK();
}

Status Application::Request(const std::string& url, HttpResponse* response) {
  for (;;) {
    std::vector<std::string> headers;
    if (folder_login_) {
      headers.push_back(
          BasicAuthorization(document_->folder, "Datacentre", document_->folder_password));
    }
    if (document_->has_login) {
      headers.push_back(BasicAuthorization(document_->user, "Document", document_->password));
    }
    Status s = http_->Get(url, headers, response);
    if (!s.ok()) return s;
    // A refusal that asks for the folder login is tried once more with it.
    if (response->status == 200 || folder_login_ || !WantsFolderLogin(*response)) {
      return Status::OK();
    }
    if (!document_->has_folder_login) {
      return Status::IOError(
          "the server asks for a folder login, and DataPath carries no ?folder=name:password");
    }
    folder_login_ = true;
  }
}

Status Application::Export(std::string_view table, std::string_view search,
                           const std::string& path) {
  if (!document_) return Status::InvalidArgument("no MoneyWorks document is open");
  const TableLayout* layout = LayoutOf(table);
  if (layout == nullptr) return Status::NotSupported("no export for table " + std::string(table));

  const std::string what = document_->Describe() + " table " + std::string(table);
  std::string url = document_->ServerUrl() + "/REST/" + UrlEncode(document_->document) +
                    "/export/table=" + UrlEncode(table) + "&search=" + UrlEncode(search) +
                    "&format=" + UrlEncode(ExportTemplate(FetchedFields(*layout)));
  HttpResponse response;
  Status s = Request(url, &response);
  if (!s.ok()) return Status::IOError(what + ": " + s.message());
  std::string error = ErrorText(response.body);
  if (response.status != 200) {
    return Status::IOError(what + ": HTTP " + std::to_string(response.status) +
                           (error.empty() ? "" : " " + error));
  }
  if (!error.empty()) return Status::IOError(what + ": " + error);

  std::string_view body = response.body;
  if (body.starts_with(kUtf8Bom)) body.remove_prefix(kUtf8Bom.size());
  return env_->WriteFile(path, ScratchText(*layout, Utf8ToCp1252(body)));
}

Status Application::Quit() {
  document_.reset();
  folder_login_ = false;
  http_->Close();
  return Status::OK();
}

ObjectSource SourceFor(std::string_view data_path, Env* env, HttpClient* http,
                       CallThread* com_thread, uint64_t com_limit_ms) {
  DocumentUrl url;
  return ObjectSource{env, http, ComAvailable() && !ParseDocumentUrl(data_path, &url).ok(),
                      com_thread, com_limit_ms};
}

Status CreateObject(std::string_view class_name, const ObjectSource& source,
                    std::unique_ptr<AutomationObject>* object) {
  object->reset();
  if (source.com) {
    return CreateComApplication(source.com_thread, source.com_limit_ms, class_name, object);
  }
  if (class_name != kApplicationClass) {
    return Status::NotSupported("no automation class " + std::string(class_name));
  }
  *object = std::make_unique<Application>(source.env, source.http);
  return Status::OK();
}

Status GetObject(std::string_view path, std::string_view class_name, const ObjectSource& source,
                 std::unique_ptr<AutomationObject>* object) {
  object->reset();
  if (!path.empty()) return Status::NotSupported("no running MoneyWorks object to attach to");
  return CreateObject(class_name, source, object);
}

}  // namespace lumbra::moneyworks
