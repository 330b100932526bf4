// Builds a table's structural index from scratch, as an accounting package
// does when a table is created or reindexed: the sample installation, the
// benchmark and the tests make their indexes with it. The pass itself
// never creates an index; it keeps the ones it finds.
#ifndef LUMBRA_BACKENDS_AURORA_CDX_WRITER_H_
#define LUMBRA_BACKENDS_AURORA_CDX_WRITER_H_

#include <string>
#include <vector>

#include "platform/status.h"

namespace lumbra {

class Env;

struct IndexTagSpec {
  std::string name;    // up to 10 characters, stored in capitals
  std::string key;     // the key expression
  std::string filter;  // the FOR expression; empty for none
  bool unique = false;
  bool descending = false;
  // A candidate key: each key once, a second record with it refused.
  bool candidate = false;
};

// Writes the .CDX beside the table at table_path (same name, extension in
// the table's letter case), holding the tags with the keys of every record
// (deleted ones too) that their FOR expressions let in, and marks the
// table's header as having a structural index. Replaces any index there.
// InvalidArgument for a tag the engine could not keep (see cdx_index.h) or
// whose text keys vary in length.
Status WriteStructuralIndex(Env* env, const std::string& table_path,
                            const std::vector<IndexTagSpec>& tags);

// The path of a table's structural index.
std::string StructuralIndexPath(const std::string& table_path);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_AURORA_CDX_WRITER_H_
