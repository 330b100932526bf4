#include "backends/context/run_context.h"

namespace lumbra {

RunContext::RunContext(Env* env_in, RunLog* log_in, std::string work, std::string program)
    : env(env_in), log(log_in), work_dir(std::move(work)), program_dir(std::move(program)) {}

RunContext::~RunContext() = default;

}  // namespace lumbra
