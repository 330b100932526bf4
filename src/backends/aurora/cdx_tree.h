// One B-tree of a compound index file (a tag, or the tag directory), read
// and changed page by page.
//
// Keys are kept in the tag's order (byte order, or its reverse for a
// descending tag), equal keys by ascending record number. An interior
// node's entry for a child holds the child's last key and record number,
// so a key lies in the first child whose entry is not below it. A node that
// overflows is split in two (a tree that grows at its end keeps its full
// nodes full, so keys added in order fill pages); a node that empties is
// taken out of the tree and put on the file's free list, a leaf that falls
// below a quarter full is merged into a neighbour that has room, and a root
// left with one child hands the root over to it. New pages come from the
// free list first, then from the end of the file.
//
// A CdxTree is one change: Insert and Remove read the pages they need once
// and change them in memory; Commit writes them all, new pages first, then
// the changed ones, then the header with its raised version. A tree is
// meant to be used under the index file's lock and dropped after Commit.
#ifndef LUMBRA_BACKENDS_AURORA_CDX_TREE_H_
#define LUMBRA_BACKENDS_AURORA_CDX_TREE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "backends/aurora/cdx_file.h"
#include "platform/status.h"

namespace lumbra::dbf {

class CdxTree {
 public:
  // The tree whose header lies at header_offset (0: the tag directory).
  CdxTree(CdxFile* file, uint32_t header_offset, char pad)
      : file_(file), header_offset_(header_offset), pad_(pad) {}

  // Reads the tree's header; file_size is the index file's size now.
  Status Load(uint64_t file_size);
  const CdxHeader& header() const { return header_; }
  // The file's size once Commit has written what was added at its end.
  uint64_t end() const { return end_; }

  // key has the header's key length.
  Status Insert(std::string_view key, uint32_t recno);
  // *found is false, and nothing changes, when the tree holds no such entry.
  Status Remove(std::string_view key, uint32_t recno, bool* found);
  // Whether an entry has this key, and its record number.
  Status Find(std::string_view key, bool* found, uint32_t* recno);
  Status Commit();

  // Every entry in index order, walking the tree from its root. Problems
  // of the tree itself (a child's entry in its parent that is not the
  // child's last key, sibling links that do not chain the nodes of a
  // level, leaves at different depths) go to *problems when given;
  // Corruption when a page cannot be read as a node at all.
  Status Scan(const std::function<void(const std::string& key, uint32_t recno)>& visit,
              std::vector<std::string>* problems);

 private:
  struct Page {
    std::string before;  // as read; empty for a page new at the end
    CdxNode node;
    bool dirty = false;
    bool freed = false;
    std::string free_bytes;  // a freed page's new contents
  };
  // The way down to a node: each level's page and the child taken there.
  struct Path {
    std::vector<uint32_t> pages;
    std::vector<size_t> slots;
  };

  int CompareKeys(std::string_view a, std::string_view b) const;
  int Compare(std::string_view a, uint32_t ra, std::string_view b, uint32_t rb) const;
  size_t LowerBound(const CdxNode& node, std::string_view key) const;

  Status Node(uint32_t offset, CdxNode** node);
  void Touch(uint32_t offset);
  Status ReadFreeList();
  Status Allocate(uint32_t* offset);
  Status Free(uint32_t offset);
  bool Fits(const CdxNode& node) const;

  Status FindPath(uint32_t offset, std::string_view key, uint32_t recno, Path* path,
                  size_t* pos, bool* found);
  Status FixLast(const Path& path, size_t level);
  Status Split(Path& path, size_t level, bool at_end);
  Status RemoveNode(Path& path, size_t level);
  Status MergeLeaf(Path& path);
  Status CollapseRoot();
  Status ScanNode(uint32_t offset, size_t depth, std::vector<uint32_t>* level_chain,
                  std::vector<uint32_t>* leaf_depths,
                  const std::function<void(const std::string&, uint32_t)>& visit,
                  std::vector<std::string>* problems, std::string* last_key, uint32_t* last_recno);

  CdxFile* file_;
  uint32_t header_offset_;
  char pad_;
  CdxHeader header_;
  std::string header_before_;
  bool header_dirty_ = false;
  // The file header's free list, when this tree is a tag's.
  bool free_list_read_ = false;
  uint32_t free_list_ = 0;
  std::string file_header_before_;
  bool file_header_dirty_ = false;
  uint64_t end_ = 0;  // where the next page new at the end goes
  // Nodes a search or scan may still enter: a tree whose pointers loop
  // cannot keep either going for ever.
  size_t visits_left_ = 0;
  std::map<uint32_t, Page> pages_;
  std::vector<uint32_t> order_;  // pages in the order they were first changed
};

}  // namespace lumbra::dbf

#endif  // LUMBRA_BACKENDS_AURORA_CDX_TREE_H_
