// The database connection of the database back-ends, opened by the intake
// and shared by the database posting and export.
#ifndef LUMBRA_BACKENDS_DATABASE_CONNECTION_H_
#define LUMBRA_BACKENDS_DATABASE_CONNECTION_H_

#include "run/status.h"

namespace lumbra::database {

class Connection {
 public:
  virtual ~Connection() = default;
  virtual bool IsOpen() const = 0;
  virtual Status Close() = 0;
};

}  // namespace lumbra::database

#endif  // LUMBRA_BACKENDS_DATABASE_CONNECTION_H_
