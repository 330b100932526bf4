#include "backends/quickbooks/qbxml_processor.h"

#include "backends/quickbooks/com_request_processor.h"
#include "platform/com_object.h"
#include "platform/env.h"

namespace lumbra {
namespace {

std::string SizeText(uint64_t bytes) {
  if (bytes >= (uint64_t{1} << 20) && bytes % (uint64_t{1} << 20) == 0) {
    return std::to_string(bytes >> 20) + " MiB";
  }
  return std::to_string(bytes) + " bytes";
}

std::string TimeText(uint64_t ms) {
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

// How the command ended, for the log.
std::string EndText(const CommandResult& result, const QbxmlProcessorOptions& options) {
  switch (result.end) {
    case CommandResult::End::kExited:
      return "exit status " + std::to_string(result.exit_status);
    case CommandResult::End::kSignaled:
      return "ended by signal " + std::to_string(result.signal);
    case CommandResult::End::kTimedOut:
      return "no output for " + TimeText(options.silence_limit_ms) + ", killed";
    case CommandResult::End::kOutputTooLarge:
      return "output larger than " + SizeText(options.response_limit) + ", killed";
  }
  return "ended in an unknown way";
}

// A connection and a session are only bookkeeping here: the command gets
// the company file and application name with the request.
class CommandRequestProcessor : public RequestProcessor {
 public:
  CommandRequestProcessor(Env* env, QbxmlProcessorOptions options, std::string working_dir)
      : env_(env), options_(std::move(options)), working_dir_(std::move(working_dir)) {}

  Status OpenConnection(const std::string&, const std::string& app_name) override {
    if (connected_) return Fail("connection already open");
    connected_ = true;
    app_name_ = app_name;
    return Status::OK();
  }

  Status BeginSession(const std::string& company_file, int, std::string* ticket) override {
    if (!connected_) return Fail("no connection open");
    if (!ticket_.empty()) return Fail("a session is already open");
    company_file_ = company_file;
    ticket_ = "session-" + std::to_string(env_->NowMicros());
    *ticket = ticket_;
    return Status::OK();
  }

  Status ProcessRequest(const std::string& ticket, const std::string& request,
                        std::string* response) override {
    response->clear();
    if (ticket_.empty() || ticket != ticket_) return Fail("unknown session");
    CommandSpec command;
    command.argv = {"/bin/sh", "-c", options_.command_line};
    command.environment = {{"QBXML_COMPANY_FILE", company_file_}, {"QBXML_APP_NAME", app_name_}};
    command.working_dir = working_dir_;
    command.input = request;
    command.silence_limit_ms = options_.silence_limit_ms;
    command.output_limit = options_.response_limit;
    CommandResult result;
    Status s = env_->RunCommand(command, &result);
    if (!s.ok()) return Fail("command not started: " + s.ToString());
    if (result.end == CommandResult::End::kExited && result.exit_status == 0) {
      *response = std::move(result.output);
      return Status::OK();
    }
    // What the command said about its failure is the best description.
    return Fail(EndText(result, options_), result.first_error_line);
  }

  Status EndSession(const std::string& ticket) override {
    if (ticket_.empty() || ticket != ticket_) return Fail("unknown session");
    ticket_.clear();
    return Status::OK();
  }

  Status CloseConnection() override {
    if (!connected_) return Fail("no connection open");
    connected_ = false;
    return Status::OK();
  }

  std::string FailureDetail() const override { return detail_; }

 private:
  Status Fail(std::string detail, const std::string& description = std::string()) {
    detail_ = std::move(detail);
    return Status::IOError(description.empty() ? std::string(kProcessorNotAvailable)
                                               : description);
  }

  Env* env_;
  QbxmlProcessorOptions options_;
  std::string working_dir_;
  bool connected_ = false;
  std::string app_name_;
  std::string company_file_;
  std::string ticket_;
  std::string detail_;
};

}  // namespace

QbxmlProcessorOptions QbxmlProcessorOptionsFromEnvironment(Env* env, int silence_seconds) {
  QbxmlProcessorOptions options;
  env->GetEnvVar(kProcessorCommandVariable, &options.command_line);
  options.silence_limit_ms = static_cast<uint64_t>(silence_seconds) * 1000;
  return options;
}

Status CreateRequestProcessor(Env* env, CallThread* com_thread,
                              const QbxmlProcessorOptions& options,
                              const std::string& working_dir,
                              std::unique_ptr<RequestProcessor>* processor) {
  processor->reset();
  if (ComAvailable()) {
    return CreateComRequestProcessor(com_thread, options.silence_limit_ms, processor);
  }
  if (options.command_line.empty()) return Status::NotFound(std::string(kProcessorNotAvailable));
  processor->reset(new CommandRequestProcessor(env, options, working_dir));
  return Status::OK();
}

}  // namespace lumbra
