// A pass killed while it writes a table: a child process ends dead before
// its n-th write, for every n an append or a memo change makes. The table
// must still open and read, in the engine and in dbfread, with at most the
// record being written missing and every other record as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "backends/aurora/table_engine.h"
#include "dbf_test_support.h"
#include "run/env.h"

namespace lumbra {
namespace {

using dbftest::Num;
using dbftest::Quote;
using dbftest::ReadingOf;

// Ends the process, as a kill would, just before the n-th write.
class KillingEnv : public EnvWrapper {
 public:
  explicit KillingEnv(int kill_at) : EnvWrapper(Env::Default()), left_(kill_at) {}
  Status OpenRandomRW(const std::string& path, bool writable,
                      std::unique_ptr<RandomRWFile>* file) override {
    Status s = target()->OpenRandomRW(path, writable, file);
    if (s.ok()) file->reset(new File(std::move(*file), &left_));
    return s;
  }

 private:
  class File : public dbftest::ForwardingFile {
   public:
    File(std::unique_ptr<RandomRWFile> base, int* left)
        : ForwardingFile(std::move(base)), left_(left) {}
    Status Write(uint64_t o, std::string_view data) override {
      if (--*left_ == 0) ::_exit(77);
      return ForwardingFile::Write(o, data);
    }

   private:
    int* left_;
  };
  int left_;
};

class DbfCrashTest : public ::testing::Test {
 protected:
  // Runs change on a fresh table in a child killed before its n-th write,
  // for n = 1, 2, ... until the change completes; check sees each result.
  void KillAtEveryWrite(const std::function<void(TableEngine&)>& change,
                        const std::function<void(bool finished)>& check) {
    std::vector<uint32_t> b;
    std::string fpt = dbftest::BuildFpt(64, {"first note", "second note"}, &b);
    std::string dbf = dbftest::BuildDbf(
        0xF5, {{"NAME", 'C', 10}, {"QTY", 'N', 6, 2}, {"NOTES", 'M', 10}},
        {{false, {"Ann", "  1.00", Num(b[0], 10)}}, {true, {"Bob", "  2.00", ""}},
         {false, {"Cy", "  3.00", Num(b[1], 10)}}});
    for (int n = 1, finished = 0; !finished; ++n) {
      SCOPED_TRACE("killed before write " + std::to_string(n));
      ASSERT_LT(n, 20);
      dbftest::WriteAll(dir_ / "T.DBF", dbf);
      dbftest::WriteAll(dir_ / "T.FPT", fpt);
      if (before_.empty()) before_ = ReadingOf(dir_ / "T.DBF");
      std::fflush(nullptr);
      pid_t pid = ::fork();
      if (pid == 0) {
        KillingEnv env(n);
        TableEngine engine(&env, nullptr);
        engine.Use(dir_ / "T.DBF", "t", TableEngine::kReadWrite, 2);
        change(engine);
        engine.Close();
        ::_exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      ASSERT_TRUE(WIFEXITED(status));
      finished = WEXITSTATUS(status) == 0;
      std::string output;
      EXPECT_EQ(dbftest::RunCrossCheck("count " + Quote(dir_ / "T.DBF"), &output), 0) << output;
      dbfread_live_ = std::atoi(output.c_str());
      check(finished);
    }
  }

  dbftest::ScratchDir dir_;
  std::string before_;
  int dbfread_live_ = 0;
};

TEST_F(DbfCrashTest, AppendKilledAtAnyWriteLeavesTheTableReadable) {
  KillAtEveryWrite(
      [](TableEngine& e) {
        e.GoBottom();
        e.Skip(1);
        e.Replace("NAME", TableEngine::kValueOrdinary, "Dee");
        e.Replace("NOTES", TableEngine::kValueMemo, "new note");
        e.Append();
      },
      [this](bool finished) {
        std::string after = ReadingOf(dir_ / "T.DBF");
        ASSERT_EQ(after.substr(0, before_.size()), before_);
        std::string added = after.substr(before_.size());
        EXPECT_TRUE(added == "-\tDee       \t      \tnew note\n" || (!finished && added.empty()))
            << added;
        EXPECT_TRUE(dbfread_live_ == 2 || dbfread_live_ == 3) << dbfread_live_;
      });
}

TEST_F(DbfCrashTest, MemoChangeKilledAtAnyWriteKeepsTheOldOrTheNewMemo) {
  KillAtEveryWrite(
      [](TableEngine& e) {
        e.Replace("NOTES", TableEngine::kValueMemo, std::string(200, 'z'));
        e.Commit();
      },
      [this](bool finished) {
        std::string old_first = "-\tAnn       \t  1.00\tfirst note\n";
        std::string changed = before_;
        changed.replace(changed.find(old_first), old_first.size(),
                        "-\tAnn       \t  1.00\t" + std::string(200, 'z') + "\n");
        std::string after = ReadingOf(dir_ / "T.DBF");
        EXPECT_TRUE(after == changed || (!finished && after == before_)) << after;
        EXPECT_EQ(dbfread_live_, 2);
      });
}

}  // namespace
}  // namespace lumbra
