// Answers of a MoneyWorks Datacentre server, through the whole export: the
// input holds the bodies of the four exports (names, accounts, products,
// jobs), separated by NUL bytes; the server is a stand-in that answers every
// request at once.
#include <array>
#include <string>
#include <vector>

#include "backends/moneyworks/http_client.h"
#include "backends/moneyworks/moneyworks.h"
#include "fuzz_support.h"

namespace {

using lumbra::Status;
using lumbra::moneyworks::HttpResponse;

class StandInServer : public lumbra::moneyworks::HttpClient {
 public:
  explicit StandInServer(std::string_view input) {
    for (std::string_view& body : bodies_) {
      auto [first, rest] = lumbra::fuzz::SplitAtNul(input);
      body = first;
      input = rest;
    }
  }
  Status Get(const std::string& url, const std::vector<std::string>&,
             HttpResponse* response) override {
    *response = HttpResponse();
    response->status = 200;
    response->headers.emplace_back("Server", "MoneyWorks_Datacentre/9.1 REST/9.1");
    if (url.ends_with("/version")) {
      response->body = "9.1.4";
      return Status::OK();
    }
    const char* tables[] = {"table=Name&", "table=Account&", "table=Product&", "table=Job&"};
    for (size_t i = 0; i < bodies_.size(); ++i) {
      if (url.find(tables[i]) != std::string::npos) response->body = bodies_[i];
    }
    return Status::OK();
  }
  void Close() override {}

 private:
  std::array<std::string_view, 4> bodies_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumbra;
  fuzz::Run run;
  run.ctx().DataPath = "moneyworks://Admin:pw@127.0.0.1/Acme.moneyworks";
  StandInServer server(fuzz::Bytes(data, size));
  ExportMoneyWorks(run.ctx(), &server);
  return 0;
}
