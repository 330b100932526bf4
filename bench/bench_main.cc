// The speed benchmark: how long a pass takes to sort and write a large
// customer table, and how table replication into the device folders compares
// with plain `cp` of the same files into the same folders.
//
//   lumbra_bench [--rows N] [--devices N]
//
// Everything happens in a fresh folder under /tmp, removed at the end.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "backends/context/run_context.h"
#include "run/run_driver.h"
#include "backends/context/run_log.h"
#include "tables/device_tables.h"
#include "tables/table_writer.h"

namespace {

using lumbra::Env;
using lumbra::RunContext;

double CpuSeconds(int who) {
  struct rusage usage;
  getrusage(who, &usage);
  auto seconds = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Wall-clock and CPU time since it was started. Other work on the machine
// stretches the first but hardly the second. CPU time counts this process,
// or, for a timer of children, the commands it ran and waited for.
class Timer {
 public:
  explicit Timer(bool children = false)
      : who_(children ? RUSAGE_CHILDREN : RUSAGE_SELF),
        wall_(std::chrono::steady_clock::now()),
        cpu_(CpuSeconds(who_)) {}
  double Wall() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
  }
  double Cpu() const { return CpuSeconds(who_) - cpu_; }

 private:
  int who_;
  std::chrono::steady_clock::time_point wall_;
  double cpu_;
};

struct Timing {
  double wall = 1e9, cpu = 1e9;
  void Take(const Timer& t) {
    wall = t.Wall();
    cpu = t.Cpu();
  }
  void KeepBest(const Timer& t) {
    wall = std::min(wall, t.Wall());
    cpu = std::min(cpu, t.Cpu());
  }
};

// A fixed-seed generator, so every run builds the same rows.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
  template <size_t N>
  const char* Pick(const char* const (&list)[N]) {
    return list[Below(N)];
  }

 private:
  uint64_t state_;
};

// Windows-1252 text, as the back-ends deliver it.
const char* const kLastNames[] = {
    "Smith",    "Jones",  "Williams", "Brown",      "Taylor",  "Wilson",   "Nguyen",
    "Martin",   "Walker", "Harris",   "O'Brien",    "O'Neill", "Smith-Jones", "Lee",
    "M\xFCller", "Ren\xE9" "e", "Garc\xED" "a", "Kelly", "MacDonald", "McDonald", "Thompson",
    "White",    "Young",  "King",     "Wright",     "Scott",   "Green",    "Baker",
    "Adams",    "Hall",   "Allen",    "Campbell",   "Mitchell", "Roberts", "Carter",
    "Phillips", "Evans",  "Turner",   "Torres",     "Parker",  "Collins",  "Edwards",
    "Stewart",  "Morris", "D'Angelo", "van der Berg", "St. John", "\xC6thelstan"};
const char* const kFirstNames[] = {
    "James", "Mary",  "John",   "Patricia", "Robert", "Jennifer", "Michael", "Linda",
    "David", "Susan", "Sarah",  "Karen",    "Chris",  "Nancy",    "Daniel",  "Lisa",
    "Paul",  "Zo\xEB", "Jos\xE9", "Fran\xE7ois", "Anne-Marie", "Mei", "Raj", "Olga"};
const char* const kCompanySuffixes[] = {"Pty Ltd", "& Sons", "Plumbing", "Electrical",
                                        "Trading Co", "Motors", "Bakery", "Caf\xE9"};
const char* const kStreets[] = {"High St",   "Main Rd",    "George St", "Church St",
                                "Park Ave",  "Station Rd", "King St",   "Queen St",
                                "Victoria Pde", "Ocean Dr", "Hill Tce", "Mill Lane"};
const char* const kCities[] = {"Springfield", "Riverside", "Fairview", "Greenvale",
                               "Lakeside",    "Hillcrest", "Brookfield", "Mount Pleasant"};
const char* const kStates[] = {"NSW", "VIC", "QLD", "SA", "WA", "TAS", "NT", "ACT"};

std::string Money(Rng& rng, size_t max_dollars) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "$%zu.%02zu", rng.Below(max_dollars), rng.Below(100));
  return buf;
}

std::string CustomerRow(Rng& rng) {
  std::string last = rng.Pick(kLastNames);
  std::string first = rng.Pick(kFirstNames);
  std::string name;
  if (rng.Below(4) == 0) {
    name = last + " " + rng.Pick(kCompanySuffixes);
  } else {
    name = last + ", " + first;
  }
  char phone[32];
  std::snprintf(phone, sizeof phone, "(0%zu) %04zu %04zu", 2 + rng.Below(7), rng.Below(10000),
                rng.Below(10000));
  char street[64];
  std::snprintf(street, sizeof street, "%zu %s", 1 + rng.Below(400), rng.Pick(kStreets));
  char postcode[8];
  std::snprintf(postcode, sizeof postcode, "%04zu", 800 + rng.Below(7000));
  std::string row = name;
  for (const std::string& field :
       {first + " " + last, std::string(street), std::string(rng.Pick(kCities)),
        std::string(rng.Pick(kStates)), std::string(postcode), std::string(phone),
        Money(rng, 20000), Money(rng, 50000)}) {
    row += '\t';
    row += field;
  }
  return row;
}

// Rows laid end to end in one buffer, so the input itself costs little
// memory next to what is measured.
struct RowSet {
  std::string bytes;
  std::vector<size_t> ends;
  size_t size() const { return ends.size(); }
  std::string_view operator[](size_t i) const {
    size_t begin = i == 0 ? 0 : ends[i - 1];
    return std::string_view(bytes).substr(begin, ends[i] - begin);
  }
  void Add(std::string_view row) {
    bytes.append(row);
    ends.push_back(bytes.size());
  }
};

// About 3% of rows repeat an earlier row exactly and 2% repeat one in other
// letter case, as merged customer lists do.
RowSet MakeCustomerRows(size_t count) {
  Rng rng(20240601);
  RowSet rows;
  rows.ends.reserve(count);
  rows.bytes.reserve(count * 100);
  for (size_t i = 0; i < count; ++i) {
    size_t dice = rng.Below(100);
    if (i > 0 && dice < 3) {
      std::string copy(rows[rng.Below(i)]);
      rows.Add(copy);
    } else if (i > 0 && dice < 5) {
      std::string variant(rows[rng.Below(i)]);
      bool upper = rng.Below(2) == 0;
      for (char& c : variant) {
        if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
      rows.Add(variant);
    } else {
      rows.Add(CustomerRow(rng));
    }
  }
  return rows;
}

// A modest table: a few thousand code-description-amount rows.
void WriteSmallTable(RunContext& ctx, std::string_view name, Rng& rng) {
  ctx.RowBuffer.Clear();
  size_t count = 2000 + rng.Below(3000);
  for (size_t i = 0; i < count; ++i) {
    char code[32];
    std::snprintf(code, sizeof code, "%.3s%05zu", name.data(), i);
    std::string row = std::string(code) + "\t" + rng.Pick(kLastNames) + " " +
                      rng.Pick(kCompanySuffixes) + "\t" + rng.Pick(kCities) + "\t" +
                      Money(rng, 5000);
    ctx.RowBuffer.Add(row);
  }
  lumbra::WriteTable(ctx, std::string(name), "Code\tDescription\tPlace\tAmount");
  ctx.RowBuffer.Clear();
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

long PeakRssMiB() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;  // kilobytes on Linux
}

// Removes the scratch folder however the benchmark ends.
struct ScratchDir {
  std::string path;
  ~ScratchDir() {
    if (path.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "lumbra_bench: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  size_t row_count = 1000000;
  int devices = lumbra::kLastDevice - 1;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--rows" && i + 1 < argc) {
      row_count = std::max<size_t>(1, std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--devices" && i + 1 < argc) {
      devices = std::clamp(std::atoi(argv[++i]), 1, lumbra::kLastDevice - 1);
    } else {
      std::fprintf(stderr, "usage: %s [--rows N] [--devices N]\n", argv[0]);
      return 2;
    }
  }

  char templ[] = "/tmp/lumbra-bench-XXXXXX";
  if (mkdtemp(templ) == nullptr) return Fail(std::string("mkdtemp: ") + std::strerror(errno));
  ScratchDir scratch{templ};
  Env* env = Env::Default();
  lumbra::RunLog log(env, "");
  RunContext ctx(env, &log, scratch.path, scratch.path);
  for (int d = 1; d <= devices + 1; ++d) {
    lumbra::Status s = env->CreateDir(ctx.Path(std::to_string(d)));
    if (!s.ok()) return Fail(s.ToString());
  }

  std::printf("Preparing %zu customer rows...\n", row_count);
  RowSet rows = MakeCustomerRows(row_count);
  long input_mib = static_cast<long>((rows.bytes.capacity() + rows.ends.capacity() * 8) >> 20);

  // (1) Collect, sort and write the customer table.
  const std::string header =
      "Name\tContact\tStreet\tCity\tState\tPostcode\tPhone\tBalance\tCreditLimit";
  Timing add, sort, write, table;
  Timer table_timer;
  Timer step;
  for (size_t i = 0; i < rows.size(); ++i) ctx.RowBuffer.Add(rows[i]);
  add.Take(step);
  step = Timer();
  if (ctx.RowBuffer.Count() > 0) ctx.RowBuffer.At(0);  // the first read sorts
  sort.Take(step);
  step = Timer();
  lumbra::Status s = lumbra::WriteTable(ctx, "Customers", header);
  write.Take(step);
  table.Take(table_timer);
  if (!s.ok()) return Fail(s.ToString());
  long peak_after_table = PeakRssMiB();
  ctx.RowBuffer.Clear();
  // Repeats are written once.
  std::string written;
  s = env->ReadFile(ctx.Path(lumbra::MasterTablePath("Customers")), &written);
  if (!s.ok()) return Fail(s.ToString());
  size_t rows_written = static_cast<size_t>(std::count(written.begin(), written.end(), '\n')) - 1;
  written = std::string();

  // (2) The other ten standard tables, then replication.
  Rng rng(7);
  Timing small;
  Timer small_timer;
  for (std::string_view table : lumbra::kStandardTables) {
    if (table != "Customers") WriteSmallTable(ctx, table, rng);
  }
  small.Take(small_timer);

  uint64_t table_bytes = 0, customer_bytes = 0;
  std::string cp_files;
  for (std::string_view table : lumbra::kStandardTables) {
    std::string path = ctx.Path(lumbra::MasterTablePath(table));
    uint64_t size = 0;
    s = env->GetFileSize(path, &size);
    if (!s.ok()) return Fail(s.ToString());
    table_bytes += size;
    if (table == "Customers") customer_bytes = size;
    cp_files += " 1/" + std::string(table) + ".dat";
  }
  std::string cp_command = "cd " + Quote(scratch.path) + " && for d in $(seq 2 " +
                           std::to_string(devices + 1) + "); do cp" + cp_files +
                           " \"$d/\" || exit 1; done";

  auto check_copies = [&]() -> bool {
    for (int d = 2; d <= devices + 1; ++d) {
      for (std::string_view table : lumbra::kStandardTables) {
        uint64_t master = 0, copy = 0;
        std::string file = std::string(table) + ".dat";
        if (!env->GetFileSize(ctx.Path("1/" + file), &master).ok() ||
            !env->GetFileSize(ctx.Path(std::to_string(d) + "/" + file), &copy).ok() ||
            master != copy) {
          return false;
        }
      }
    }
    return true;
  };

  // One untimed round creates every target, so each timed round replaces
  // existing files. Rounds alternate, and each starts with nothing left to
  // write back, so neither method pays for the other's writes.
  lumbra::ReplicateTables(ctx);
  if (!check_copies()) return Fail("replication left a device table missing or short");
  Timing replicate, cp;
  for (int round = 0; round < 2; ++round) {
    sync();
    Timer replicate_timer;
    lumbra::ReplicateTables(ctx);
    replicate.KeepBest(replicate_timer);
    if (!check_copies()) return Fail("replication left a device table missing or short");

    sync();
    Timer cp_timer(/*children=*/true);
    int rc = std::system(cp_command.c_str());
    cp.KeepBest(cp_timer);
    if (rc != 0) return Fail("cp failed: " + cp_command);
  }

  auto mib = [](uint64_t bytes) { return static_cast<double>(bytes) / (1 << 20); };
  auto line = [](const char* what, const Timing& t, const char* note = "") {
    std::printf("  %-16s %7.3f s wall  %7.3f s cpu%s\n", what, t.wall, t.cpu, note);
  };
  std::printf("\n");
  std::printf("Customer table: %zu rows in, %zu distinct rows (%.1f MiB) written\n", row_count,
              rows_written, mib(customer_bytes));
  line("add (sort keys)", add);
  line("sort", sort);
  line("write", write);
  line("total", table, "   (target: under 3 s)");
  std::printf("  peak memory      %7ld MiB (of which ~%ld MiB the generated input)\n",
              peak_after_table, input_mib);
  std::printf("Ten other tables written: %.3f s wall, %.3f s cpu\n", small.wall, small.cpu);
  std::printf("Replication: 11 tables, %.1f MiB, into %d device folders (%.1f MiB), best of 2\n",
              mib(table_bytes), devices, mib(table_bytes * static_cast<uint64_t>(devices)));
  line("ReplicateTables", replicate);
  line("cp", cp);
  std::printf("  ratio            %7.2f        (target: at most 1.5)\n", replicate.wall / cp.wall);
  std::printf("Peak memory of the run: %ld MiB\n", PeakRssMiB());
  return 0;
}
