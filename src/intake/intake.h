// The intake: takes in what the devices handed in (their "transact.xml"
// files) and hands it to the configured back-end's posting.
#ifndef LUMBRA_INTAKE_INTAKE_H_
#define LUMBRA_INTAKE_INTAKE_H_

namespace lumbra {

struct RunContext;

void TakeInTransactions(RunContext& ctx);

}  // namespace lumbra

#endif  // LUMBRA_INTAKE_INTAKE_H_
