#include "backends/aurora/memo_file.h"

#include <algorithm>

namespace lumbra::dbf {
namespace {

constexpr uint64_t kMemoHeaderSize = 512;
// Bytes read with a memo's block header, enough for most memos in one read.
constexpr size_t kFirstRead = 4096;
// No memo is believed to be longer than this, whatever its header says.
constexpr uint64_t kMaxMemo = 256u << 20;

uint32_t ReadBE32(const char* p) {
  return static_cast<uint32_t>(static_cast<uint8_t>(p[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(p[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(p[2])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(p[3]));
}

void WriteBE32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

}  // namespace

Status MemoFile::Open(Env* env, const std::string& path, MemoKind kind, bool writable,
                      std::unique_ptr<MemoFile>* out) {
  out->reset();
  std::unique_ptr<RandomRWFile> file;
  Status s = env->OpenRandomRW(path, writable, &file);
  if (!s.ok()) return s;
  std::string header;
  s = file->Read(0, kMemoHeaderSize, &header);
  if (!s.ok()) return s;
  if (header.size() < 8) return Status::Corruption(path + ": memo file header cut short");
  std::unique_ptr<MemoFile> memo(new MemoFile(path, kind, writable, std::move(file)));
  if (kind == MemoKind::kFpt) {
    memo->block_size_ = static_cast<uint32_t>(static_cast<uint8_t>(header[6])) << 8 |
                        static_cast<uint8_t>(header[7]);
    if (memo->block_size_ == 0) return Status::Corruption(path + ": memo block size 0");
  } else if (kind == MemoKind::kDbt4 && header.size() >= 22) {
    uint32_t size = static_cast<uint8_t>(header[20]) |
                    static_cast<uint32_t>(static_cast<uint8_t>(header[21])) << 8;
    if (size >= 64 && size % 64 == 0) memo->block_size_ = size;
  }
  *out = std::move(memo);
  return Status::OK();
}

Status MemoFile::ReadUntilEndMarker(uint64_t offset, uint64_t size, std::string* data) {
  std::string chunk;
  while (offset < size && data->size() < kMaxMemo) {
    Status s = file_->Read(offset, kFirstRead, &chunk);
    if (!s.ok()) return s;
    if (chunk.empty()) break;
    size_t end = chunk.find(kEndMarker);
    if (end != std::string::npos) {
      data->append(chunk, 0, end);
      return Status::OK();
    }
    data->append(chunk);
    offset += chunk.size();
  }
  return Status::OK();
}

Status MemoFile::Read(uint32_t block, std::string* data, bool* is_text) {
  data->clear();
  *is_text = true;
  if (block == 0) return Status::OK();
  uint64_t size = 0;
  Status s = file_->Size(&size);
  if (!s.ok()) return s;
  const uint64_t offset = static_cast<uint64_t>(block) * block_size_;
  const std::string where = path_ + ": memo block " + std::to_string(block);
  if (offset >= size || offset < kMemoHeaderSize) {
    return Status::Corruption(where + " lies outside the memo file");
  }
  if (kind_ == MemoKind::kDbt3) return ReadUntilEndMarker(offset, size, data);

  std::string first;
  s = file_->Read(offset, kFirstRead, &first);
  if (!s.ok()) return s;
  uint64_t length;
  if (kind_ == MemoKind::kFpt) {
    if (first.size() < 8) return Status::Corruption(where + " cut short");
    *is_text = ReadBE32(first.data()) == 1;
    length = ReadBE32(first.data() + 4);
  } else {
    static const char kDbt4Mark[] = {'\xFF', '\xFF', '\x08', '\x00'};
    if (first.size() < 8 || !std::equal(kDbt4Mark, kDbt4Mark + 4, first.begin())) {
      return ReadUntilEndMarker(offset, size, data);
    }
    length = ReadLE32(first.data() + 4);
    length = length >= 8 ? length - 8 : 0;
  }
  uint64_t available = size - offset - 8;
  bool cut = length > available;
  length = std::min({length, available, kMaxMemo});
  if (length + 8 <= first.size()) {
    data->assign(first, 8, static_cast<size_t>(length));
  } else {
    s = file_->Read(offset + 8, static_cast<size_t>(length), data);
    if (!s.ok()) return s;
    cut = cut || data->size() < length;
  }
  return cut ? Status::Corruption(where + " runs past the end of the memo file") : Status::OK();
}

Status MemoFile::Append(std::string_view data, int lock_timeout_ms, uint32_t* block,
                        const UndoTarget* undo) {
  *block = 0;
  if (!writable_) return Status::NotSupported(path_ + ": memo file opened for reading only");
  RangeLock lock(file_.get(), kLockBase);
  Status s = lock.Acquire(lock_timeout_ms);
  if (!s.ok()) return Status::Busy(path_ + ": memo file locked by another program");
  std::string header;
  s = file_->Read(0, 8, &header);
  if (!s.ok()) return s;
  if (header.size() < 4) return Status::Corruption(path_ + ": memo file header cut short");
  uint64_t size = 0;
  s = file_->Size(&size);
  if (!s.ok()) return s;
  const bool big_endian = kind_ == MemoKind::kFpt;
  uint64_t next_free = big_endian ? ReadBE32(header.data()) : ReadLE32(header.data());
  uint64_t start = std::max({next_free, CeilDiv(size, block_size_),
                             CeilDiv(kMemoHeaderSize, block_size_)});

  std::string blocks;
  blocks.reserve(data.size() + 16);
  if (kind_ == MemoKind::kFpt) {
    blocks.resize(8);
    WriteBE32(blocks.data(), 1);  // text
    WriteBE32(blocks.data() + 4, static_cast<uint32_t>(data.size()));
    blocks.append(data);
  } else if (kind_ == MemoKind::kDbt4) {
    blocks.assign("\xFF\xFF\x08\x00", 4);
    blocks.resize(8);
    WriteLE32(blocks.data() + 4, static_cast<uint32_t>(data.size() + 8));
    blocks.append(data);
  } else {
    blocks.assign(data);
    blocks.append(2, kEndMarker);
  }
  uint64_t count = CeilDiv(blocks.size(), block_size_);
  blocks.resize(count * block_size_, '\0');
  if (data.size() > kMaxMemo || start + count > 0xFFFFFFFFu) {
    return Status::InvalidArgument(path_ + ": memo too large for the memo file");
  }
  char pointer[4];
  if (big_endian) {
    WriteBE32(pointer, static_cast<uint32_t>(start + count));
  } else {
    WriteLE32(pointer, static_cast<uint32_t>(start + count));
  }
  if (undo != nullptr) {
    // Only the pointer needs undoing: blocks past it are free space.
    std::string old = header.substr(0, 4);
    s = undo->Note(FileChange{path_, kLockBase, 0, old, std::string(pointer, 4), old});
    if (!s.ok()) return s;
  }
  s = file_->Write(start * block_size_, blocks);
  if (!s.ok()) return s;
  s = file_->Write(0, std::string_view(pointer, 4));
  if (!s.ok()) return s;
  *block = static_cast<uint32_t>(start);
  return Status::OK();
}

}  // namespace lumbra::dbf
