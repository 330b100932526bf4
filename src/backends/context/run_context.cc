#include "backends/context/run_context.h"

#include <cstdio>

namespace lumbra {
namespace {

// The box's title, and how long it waits for a person who may have gone
// away: the pass must end, and the next one can only start then.
constexpr std::string_view kBoxTitle = "Lumbra";
constexpr int kBoxTimeLimitMs = 5 * 60 * 1000;

}  // namespace

RunContext::RunContext(Env* env_in, RunLog* log_in, std::string work, std::string program)
    : env(env_in), log(log_in), work_dir(std::move(work)), program_dir(std::move(program)) {}

RunContext::~RunContext() = default;

void RunContext::ShowError(std::string_view text) {
  std::string message(text);
  if (dialogs && env->ShowMessageBox(std::string(kBoxTitle), message, kBoxTimeLimitMs)) return;
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
}

}  // namespace lumbra
