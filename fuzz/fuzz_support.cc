#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "text/paths.h"

namespace lumbra::fuzz {
namespace {

namespace fs = std::filesystem;

class NoSyncFile : public RandomRWFile {
 public:
  explicit NoSyncFile(std::unique_ptr<RandomRWFile> file) : file_(std::move(file)) {}
  Status Read(uint64_t offset, size_t n, std::string* out) override {
    return file_->Read(offset, n, out);
  }
  Status Write(uint64_t offset, std::string_view data) override {
    return file_->Write(offset, data);
  }
  Status Size(uint64_t* size) override { return file_->Size(size); }
  Status Sync() override { return Status::OK(); }
  Status LockRange(uint64_t offset, uint64_t length, bool exclusive, int timeout_ms) override {
    return file_->LockRange(offset, length, exclusive, timeout_ms);
  }
  Status UnlockRange(uint64_t offset, uint64_t length) override {
    return file_->UnlockRange(offset, length);
  }

 private:
  std::unique_ptr<RandomRWFile> file_;
};

class NoSyncEnv : public EnvWrapper {
 public:
  NoSyncEnv() : EnvWrapper(Env::Default()) {}
  Status SyncFile(const std::string&) override { return Status::OK(); }
  Status OpenRandomRW(const std::string& path, bool writable,
                      std::unique_ptr<RandomRWFile>* file) override {
    Status s = target()->OpenRandomRW(path, writable, file);
    if (s.ok()) *file = std::make_unique<NoSyncFile>(std::move(*file));
    return s;
  }
};

std::string& ScratchRoot() {
  static std::string root;
  return root;
}

void RemoveScratchRoot() {
  std::error_code ec;
  if (!ScratchRoot().empty()) fs::remove_all(ScratchRoot(), ec);
}

const std::string& MakeScratchRoot() {
  std::string& root = ScratchRoot();
  if (root.empty()) {
    std::string pattern = (fs::temp_directory_path() / "lumbra-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("lumbra fuzz: no scratch folder");
      std::abort();
    }
    root = pattern;
    std::atexit(RemoveScratchRoot);
  }
  return root;
}

}  // namespace

std::pair<std::string_view, std::string_view> SplitAtNul(std::string_view input) {
  size_t nul = input.find('\0');
  if (nul == std::string_view::npos) return {input, std::string_view()};
  return {input.substr(0, nul), input.substr(nul + 1)};
}

Env* FuzzEnv() {
  static NoSyncEnv env;
  return &env;
}

Scratch::Scratch() {
  const std::string& root = MakeScratchRoot();
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(root, ec)) {
    fs::remove_all(entry.path(), ec);
  }
}

const std::string& Scratch::dir() const { return ScratchRoot(); }

std::string Scratch::Path(std::string_view rel) const { return JoinPath(dir(), rel); }

void Scratch::Write(std::string_view rel, std::string_view bytes) const {
  std::string path = Path(rel);
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Scratch::MakeDir(std::string_view rel) const {
  std::error_code ec;
  fs::create_directories(Path(rel), ec);
}

Run::Run()
    : log_(FuzzEnv(), std::string()),
      ctx_(std::make_unique<RunContext>(FuzzEnv(), &log_, scratch_.dir(), scratch_.dir())) {
  scratch_.MakeDir("1");  // the run driver sees to it before any export
}

void Require(bool property, const char* what) {
  if (property) return;
  std::fprintf(stderr, "lumbra fuzz: %s\n", what);
  std::abort();
}

}  // namespace lumbra::fuzz
