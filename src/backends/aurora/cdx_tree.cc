#include "backends/aurora/cdx_tree.h"

#include <algorithm>
#include <cstring>

#include "backends/aurora/dbf_format.h"

namespace lumbra::dbf {
namespace {

// Deeper than any tree of 2^32 keys: a longer way down is a loop.
constexpr size_t kMaxDepth = 64;
// A leaf using less of its page than this is merged into a neighbour.
constexpr size_t kMergeBelow = kCdxPageSize / 4;

std::string Where(uint32_t offset) { return "page " + std::to_string(offset); }

CdxNode Part(const CdxNode& n, size_t from, size_t to) {
  CdxNode p;
  p.attributes = static_cast<uint16_t>(n.attributes & ~kNodeRoot);
  p.key_length = n.key_length;
  p.Append(n, from, to);
  return p;
}

bool ValidPage(uint32_t offset, uint64_t end) {
  return offset != 0 && offset != kCdxNoPage && offset % kCdxPageSize == 0 &&
         offset >= kCdxHeaderSize && offset + uint64_t{kCdxPageSize} <= end;
}

}  // namespace

Status CdxTree::Load(uint64_t file_size) {
  Status s = file_->ReadHeader(header_offset_, file_size, &header_, &header_before_);
  header_before_.resize(kCdxHeaderTreeBytes);
  end_ = (file_size + kCdxPageSize - 1) / kCdxPageSize * kCdxPageSize;
  return s;
}

int CdxTree::CompareKeys(std::string_view a, std::string_view b) const {
  int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (c == 0) c = a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
  c = c < 0 ? -1 : c > 0 ? 1 : 0;
  return header_.descending ? -c : c;
}

int CdxTree::Compare(std::string_view a, uint32_t ra, std::string_view b, uint32_t rb) const {
  int c = CompareKeys(a, b);
  if (c != 0) return c;
  return ra < rb ? -1 : ra > rb ? 1 : 0;
}

size_t CdxTree::LowerBound(const CdxNode& node, std::string_view key) const {
  size_t i = 0;
  while (i < node.size() && CompareKeys(node.key(i), key) < 0) ++i;
  return i;
}

Status CdxTree::Node(uint32_t offset, CdxNode** node) {
  auto it = pages_.find(offset);
  if (it == pages_.end()) {
    if (!ValidPage(offset, end_)) {
      return Status::Corruption(file_->path() + ": a node points to " + Where(offset) +
                                ", outside the file");
    }
    Page page;
    Status s = file_->Read(offset, kCdxPageSize, &page.before);
    if (s.ok()) s = DecodeNode(page.before, header_.key_length, pad_, &page.node);
    if (!s.ok()) return Status::Corruption(file_->path() + ": " + Where(offset) + ": " + s.message());
    it = pages_.emplace(offset, std::move(page)).first;
  }
  if (it->second.freed) return Status::Corruption(file_->path() + ": " + Where(offset) + " used twice");
  *node = &it->second.node;
  return Status::OK();
}

void CdxTree::Touch(uint32_t offset) {
  Page& p = pages_[offset];
  if (!p.dirty) order_.push_back(offset);
  p.dirty = true;
}

bool CdxTree::Fits(const CdxNode& node) const { return NodeFits(node, header_.key_length, pad_); }

// The file's list of free pages starts in the file header and goes on in
// the first four bytes of each free page. A list that does not lead to
// pages of this file is not followed. The tag directory's own pages never
// change, so it takes no part.
Status CdxTree::ReadFreeList() {
  if (free_list_read_ || header_offset_ == 0) return Status::OK();
  Status s = file_->Read(4, 4, &file_header_before_);
  if (!s.ok()) return s;
  free_list_ = ReadLE32(file_header_before_.data());
  free_list_read_ = true;
  return Status::OK();
}

Status CdxTree::Allocate(uint32_t* offset) {
  Status s = ReadFreeList();
  if (!s.ok()) return s;
  uint32_t head = free_list_;
  if (free_list_read_ && ValidPage(head, end_) && pages_.count(head) == 0) {
    Page page;
    s = file_->Read(head, kCdxPageSize, &page.before);
    if (!s.ok()) return s;
    uint32_t next = ReadLE32(page.before.data());
    free_list_ = ValidPage(next, end_) ? next : 0;
    file_header_dirty_ = true;
    pages_.emplace(head, std::move(page));
    *offset = head;
  } else {
    *offset = static_cast<uint32_t>(end_);
    end_ += kCdxPageSize;
    pages_.emplace(*offset, Page());
  }
  Touch(*offset);
  return Status::OK();
}

Status CdxTree::Free(uint32_t offset) {
  Status s = ReadFreeList();
  if (!s.ok() || !free_list_read_) return s;
  Page& p = pages_[offset];
  p.freed = true;
  p.free_bytes.assign(kCdxPageSize, '\0');
  WriteLE32(p.free_bytes.data(), ValidPage(free_list_, end_) ? free_list_ : 0);
  free_list_ = offset;
  file_header_dirty_ = true;
  Touch(offset);
  return Status::OK();
}

Status CdxTree::Insert(std::string_view key, uint32_t recno) {
  if (key.size() != header_.key_length) return Status::InvalidArgument("key of the wrong length");
  Path path;
  uint32_t offset = header_.root;
  CdxNode* node = nullptr;
  for (;;) {
    if (path.pages.size() >= kMaxDepth) return Status::Corruption(file_->path() + ": a tree loops");
    Status s = Node(offset, &node);
    if (!s.ok()) return s;
    path.pages.push_back(offset);
    if (node->leaf()) break;
    if (node->size() == 0) return Status::Corruption(file_->path() + ": empty " + Where(offset));
    size_t i = 0;
    while (i + 1 < node->size() && Compare(node->key(i), node->recnos[i], key, recno) < 0) ++i;
    path.slots.push_back(i);
    offset = node->children[i];
  }
  size_t pos = 0;
  while (pos < node->size() && Compare(node->key(pos), node->recnos[pos], key, recno) <= 0) ++pos;
  node->Insert(pos, key, recno);
  Touch(offset);
  size_t level = path.pages.size() - 1;
  bool last = pos + 1 == node->size();
  if (last) {
    Status s = FixLast(path, level);
    if (!s.ok()) return s;
  }
  if (Fits(*node)) return Status::OK();
  return Split(path, level, last && node->right == kCdxNoPage);
}

// The node at level has a new last entry: so do the parents' entries that
// stand for it, as far up as it is their last too.
Status CdxTree::FixLast(const Path& path, size_t level) {
  for (size_t l = level; l > 0; --l) {
    CdxNode *child, *parent;
    Status s = Node(path.pages[l], &child);
    if (s.ok()) s = Node(path.pages[l - 1], &parent);
    if (!s.ok()) return s;
    if (child->size() == 0) return Status::OK();
    size_t slot = path.slots[l - 1];
    if (parent->key(slot) == child->last_key() && parent->recnos[slot] == child->recnos.back()) {
      return Status::OK();
    }
    parent->SetKey(slot, child->last_key());
    parent->recnos[slot] = child->recnos.back();
    Touch(path.pages[l - 1]);
    if (slot + 1 != parent->size()) break;
  }
  return Status::OK();
}

// Splits the overfull node at level into itself and a new right sibling,
// entering the sibling in the parent (or in a new root).
Status CdxTree::Split(Path& path, size_t level, bool at_end) {
  uint32_t offset = path.pages[level];
  CdxNode* node;
  Status s = Node(offset, &node);
  if (!s.ok()) return s;
  const size_t n = node->size();
  size_t cut = at_end ? n - 1 : n / 2;
  while (cut > 1 && !Fits(Part(*node, 0, cut))) --cut;
  while (cut + 1 < n && !Fits(Part(*node, cut, n))) ++cut;
  if (cut == 0 || !Fits(Part(*node, 0, cut)) || !Fits(Part(*node, cut, n))) {
    return Status::Corruption(file_->path() + ": keys too long to split " + Where(offset));
  }
  uint32_t right_offset;
  s = Allocate(&right_offset);
  if (!s.ok()) return s;
  CdxNode right = Part(*node, cut, n);
  right.left = offset;
  right.right = node->right;
  if (node->right != kCdxNoPage) {
    CdxNode* next;
    s = Node(node->right, &next);
    if (!s.ok()) return s;
    next->left = right_offset;
    Touch(node->right);
  }
  // The top of the way down is the root the header names, whatever its
  // attributes say.
  bool was_root = level == 0;
  CdxNode left = Part(*node, 0, cut);
  left.left = node->left;
  left.right = right_offset;
  *node = std::move(left);
  pages_[right_offset].node = std::move(right);
  const CdxNode& r = pages_[right_offset].node;
  Touch(offset);
  if (was_root) {
    uint32_t root_offset;
    s = Allocate(&root_offset);
    if (!s.ok()) return s;
    CdxNode root;
    root.attributes = static_cast<uint16_t>(kNodeRoot | (node->attributes & ~kNodeLeaf));
    root.key_length = header_.key_length;
    root.Insert(0, node->last_key(), node->recnos.back(), offset);
    root.Insert(1, r.last_key(), r.recnos.back(), right_offset);
    pages_[root_offset].node = std::move(root);
    header_.root = root_offset;
    header_dirty_ = true;
    return Status::OK();
  }
  CdxNode* parent;
  s = Node(path.pages[level - 1], &parent);
  if (!s.ok()) return s;
  size_t slot = path.slots[level - 1];
  parent->SetKey(slot, node->last_key());
  parent->recnos[slot] = node->recnos.back();
  parent->Insert(slot + 1, r.last_key(), r.recnos.back(), right_offset);
  Touch(path.pages[level - 1]);
  if (Fits(*parent)) return Status::OK();
  return Split(path, level - 1,
               at_end && slot + 2 == parent->size() && parent->right == kCdxNoPage);
}

Status CdxTree::FindPath(uint32_t offset, std::string_view key, uint32_t recno, Path* path,
                         size_t* pos, bool* found) {
  if (path->pages.size() >= kMaxDepth || visits_left_-- == 0) {
    return Status::Corruption(file_->path() + ": a tree loops");
  }
  CdxNode* node;
  Status s = Node(offset, &node);
  if (!s.ok()) return s;
  path->pages.push_back(offset);
  for (size_t i = LowerBound(*node, key); i < node->size(); ++i) {
    if (node->leaf()) {
      if (CompareKeys(node->key(i), key) != 0) break;
      if (node->recnos[i] != recno) continue;
      *pos = i;
      *found = true;
      return Status::OK();
    }
    // Entries equal to the key may go on in the next child.
    path->slots.push_back(i);
    s = FindPath(node->children[i], key, recno, path, pos, found);
    if (!s.ok() || *found) return s;
    path->slots.pop_back();
    if (CompareKeys(node->key(i), key) != 0) break;
  }
  path->pages.pop_back();
  return Status::OK();
}

Status CdxTree::Remove(std::string_view key, uint32_t recno, bool* found) {
  *found = false;
  if (key.size() != header_.key_length) return Status::InvalidArgument("key of the wrong length");
  Path path;
  size_t pos = 0;
  visits_left_ = end_ / kCdxPageSize;
  Status s = FindPath(header_.root, key, recno, &path, &pos, found);
  if (!s.ok() || !*found) return s;
  size_t level = path.pages.size() - 1;
  CdxNode* leaf;
  s = Node(path.pages[level], &leaf);
  if (!s.ok()) return s;
  leaf->Erase(pos);
  Touch(path.pages[level]);
  if (level == 0) return Status::OK();
  if (leaf->size() == 0) {
    s = RemoveNode(path, level);
  } else {
    if (pos == leaf->size()) s = FixLast(path, level);
    if (s.ok()) s = MergeLeaf(path);
  }
  if (s.ok()) s = CollapseRoot();
  return s;
}

// Takes the node at level out of its level's chain and its parent, and
// puts its page on the free list.
Status CdxTree::RemoveNode(Path& path, size_t level) {
  uint32_t offset = path.pages[level];
  CdxNode* node;
  Status s = Node(offset, &node);
  if (!s.ok()) return s;
  for (uint32_t side : {node->left, node->right}) {
    if (side == kCdxNoPage) continue;
    CdxNode* sibling;
    s = Node(side, &sibling);
    if (!s.ok()) return s;
    if (side == node->left) {
      sibling->right = node->right;
    } else {
      sibling->left = node->left;
    }
    Touch(side);
  }
  s = Free(offset);
  if (!s.ok()) return s;
  CdxNode* parent;
  s = Node(path.pages[level - 1], &parent);
  if (!s.ok()) return s;
  size_t slot = path.slots[level - 1];
  parent->Erase(slot);
  Touch(path.pages[level - 1]);
  if (parent->size() == 0) {
    if (level - 1 > 0) return RemoveNode(path, level - 1);
    parent->attributes |= kNodeLeaf;  // an empty tree: its root is an empty leaf
    parent->children.clear();
    return Status::OK();
  }
  return slot == parent->size() ? FixLast(path, level - 1) : Status::OK();
}

// A leaf that has fallen below a quarter full is merged with the next (or
// else the previous) leaf of its parent when both fit one page.
Status CdxTree::MergeLeaf(Path& path) {
  size_t level = path.pages.size() - 1;
  uint32_t offset = path.pages[level];
  CdxNode *leaf, *parent;
  Status s = Node(offset, &leaf);
  if (s.ok()) s = Node(path.pages[level - 1], &parent);
  if (!s.ok()) return s;
  if (NodeBytes(*leaf, header_.key_length, pad_) >= kMergeBelow) return Status::OK();
  size_t slot = path.slots[level - 1];
  for (size_t first : {slot, slot > 0 ? slot - 1 : slot}) {
    if (first + 1 >= parent->size()) continue;
    CdxNode *a, *b;
    s = Node(parent->children[first], &a);
    if (s.ok()) s = Node(parent->children[first + 1], &b);
    if (!s.ok()) return s;
    CdxNode merged = *a;
    merged.Append(*b, 0, b->size());
    if (!Fits(merged)) continue;
    // The right one of the two goes; the left one takes its keys.
    merged.right = b->right;
    *a = std::move(merged);
    Touch(parent->children[first]);
    parent->SetKey(first, a->last_key());
    parent->recnos[first] = a->recnos.back();
    Touch(path.pages[level - 1]);
    path.slots[level - 1] = first + 1;
    path.pages[level] = parent->children[first + 1];
    b->keys.clear();
    b->recnos.clear();
    b->children.clear();
    b->right = a->right;
    b->left = parent->children[first];
    return RemoveNode(path, level);
  }
  return Status::OK();
}

// A root with a single child hands the root over to it.
Status CdxTree::CollapseRoot() {
  for (;;) {
    CdxNode* root;
    Status s = Node(header_.root, &root);
    if (!s.ok()) return s;
    if (root->leaf() || root->size() != 1) return Status::OK();
    uint32_t child_offset = root->children[0];
    CdxNode* child;
    s = Node(child_offset, &child);
    if (!s.ok()) return s;
    child->attributes |= kNodeRoot;
    Touch(child_offset);
    s = Free(header_.root);
    if (!s.ok()) return s;
    header_.root = child_offset;
    header_dirty_ = true;
  }
}

Status CdxTree::Find(std::string_view key, bool* found, uint32_t* recno) {
  *found = false;
  uint32_t offset = header_.root;
  for (size_t depth = 0; depth < kMaxDepth; ++depth) {
    CdxNode* node;
    Status s = Node(offset, &node);
    if (!s.ok()) return s;
    size_t i = LowerBound(*node, key);
    if (i == node->size()) return Status::OK();
    if (node->leaf()) {
      *found = CompareKeys(node->key(i), key) == 0;
      *recno = node->recnos[i];
      return Status::OK();
    }
    offset = node->children[i];
  }
  return Status::Corruption(file_->path() + ": a tree loops");
}

Status CdxTree::Commit() {
  if (order_.empty() && !header_dirty_) return Status::OK();
  std::vector<uint32_t> order;
  for (uint32_t offset : order_) {
    if (pages_[offset].before.empty()) order.push_back(offset);
  }
  std::sort(order.begin(), order.end());
  for (uint32_t offset : order_) {
    if (!pages_[offset].before.empty()) order.push_back(offset);
  }
  for (uint32_t offset : order) {
    Page& p = pages_[offset];
    std::string bytes = p.free_bytes;
    if (!p.freed && !EncodeNode(p.node, header_.key_length, pad_, &bytes)) {
      return Status::Corruption(file_->path() + ": " + Where(offset) + " overfull");
    }
    Status s = file_->Write(offset, p.before, bytes);
    if (!s.ok()) return s;
  }
  ++header_.version;
  Status s = file_->Write(header_offset_, header_before_, FormatHeaderTreeBytes(header_));
  if (s.ok() && file_header_dirty_) {
    std::string head(4, '\0');
    WriteLE32(head.data(), free_list_);
    s = file_->Write(4, file_header_before_, head);
  }
  order_.clear();
  pages_.clear();
  header_dirty_ = file_header_dirty_ = free_list_read_ = false;
  header_before_ = FormatHeaderTreeBytes(header_);
  return s;
}

Status CdxTree::Scan(const std::function<void(const std::string& key, uint32_t recno)>& visit,
                     std::vector<std::string>* problems) {
  std::vector<uint32_t> chain;        // per depth: the last node seen there
  std::vector<uint32_t> leaf_depths;  // distinct depths at which leaves were found
  std::string last_key;
  uint32_t last_recno = 0;
  std::vector<std::string> local;
  std::vector<std::string>* out = problems != nullptr ? problems : &local;
  visits_left_ = end_ / kCdxPageSize;
  Status s = ScanNode(header_.root, 0, &chain, &leaf_depths, visit, out, &last_key, &last_recno);
  if (!s.ok()) return s;
  for (size_t depth = 0; depth < chain.size(); ++depth) {
    CdxNode* node;
    s = Node(chain[depth], &node);
    if (!s.ok()) return s;
    if (node->right != kCdxNoPage) {
      out->push_back("the last node of level " + std::to_string(depth) + " (" + Where(chain[depth]) +
                     ") links to a next one");
    }
  }
  if (leaf_depths.size() > 1) out->push_back("leaves lie at different depths");
  pages_.clear();
  return Status::OK();
}

Status CdxTree::ScanNode(uint32_t offset, size_t depth, std::vector<uint32_t>* chain,
                         std::vector<uint32_t>* leaf_depths,
                         const std::function<void(const std::string&, uint32_t)>& visit,
                         std::vector<std::string>* problems, std::string* last_key,
                         uint32_t* last_recno) {
  if (depth >= kMaxDepth || visits_left_-- == 0) {
    return Status::Corruption(file_->path() + ": a tree loops");
  }
  if (chain->size() <= depth) chain->resize(depth + 1, kCdxNoPage);
  CdxNode* node;
  Status s = Node(offset, &node);
  if (!s.ok()) return s;
  uint32_t previous = (*chain)[depth];
  if (node->left != previous) {
    problems->push_back(Where(offset) + " links back to " +
                        (node->left == kCdxNoPage ? "nothing" : Where(node->left)) + ", not to " +
                        (previous == kCdxNoPage ? "nothing" : Where(previous)));
  }
  if (previous != kCdxNoPage) {
    CdxNode* prev;
    s = Node(previous, &prev);
    if (!s.ok()) return s;
    if (prev->right != offset) {
      problems->push_back(Where(previous) + " does not link on to " + Where(offset));
    }
  }
  (*chain)[depth] = offset;
  if (node->leaf()) {
    if (std::find(leaf_depths->begin(), leaf_depths->end(), depth) == leaf_depths->end()) {
      leaf_depths->push_back(static_cast<uint32_t>(depth));
    }
    // Copied: visiting may read further pages.
    const CdxNode leaf = *node;
    for (size_t i = 0; i < leaf.size(); ++i) {
      std::string key(leaf.key(i));
      if (!last_key->empty() && CompareKeys(*last_key, key) > 0) {
        problems->push_back("the key of record " + std::to_string(leaf.recnos[i]) +
                            " comes after a greater one");
      }
      visit(key, leaf.recnos[i]);
      *last_key = std::move(key);
      *last_recno = leaf.recnos[i];
    }
    return Status::OK();
  }
  const CdxNode interior = *node;
  for (size_t i = 0; i < interior.size(); ++i) {
    s = ScanNode(interior.children[i], depth + 1, chain, leaf_depths, visit, problems, last_key,
                 last_recno);
    if (!s.ok()) return s;
    if (*last_key != interior.key(i) || *last_recno != interior.recnos[i]) {
      problems->push_back("the entry of " + Where(offset) + " for " + Where(interior.children[i]) +
                          " is not that child's last key");
    }
  }
  return Status::OK();
}

}  // namespace lumbra::dbf
