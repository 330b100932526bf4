// The Aurora back-end's speed: the export of a large installation (100,000
// customers, 100,000 stock items with balances, 200,000 invoice lines) and
// the posting of one device's 10,000 invoice lines into it, once into
// tables with the structural indexes the accounting package keeps (two tags
// on each large table) and once into the same tables without them.
//
//   aurora_bench [--customers N] [--items N] [--lines N] [--post N]
//                [--installation DIR]
//
// Everything happens in a fresh folder under /tmp, removed at the end. With
// --installation nothing is timed: DIR gets the installation for a whole
// pass instead (Lumbra.ini, the tables in data/, the device file as
// 3/transact.xml, device folders 2 to 10), which tools/pass-bench.sh times
// on both platforms.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backends/aurora/aurora.h"
#include "backends/aurora/aurora_layouts.h"
#include "platform/env.h"
#include "backends/context/run_context.h"
#include "backends/context/backend_names.h"
#include "backends/context/run_log.h"
#include "intake/intake.h"
#include "intake/posting.h"
#include "run/run_driver.h"

namespace {

using lumbra::DbfRecord;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double CpuSeconds() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string Name(const char* prefix, long i) { return prefix + std::to_string(i); }

struct Sizes {
  long customers = 100000;
  long items = 100000;
  long lines = 200000;
  long post = 10000;
};

void MakeInstallation(lumbra::Env* env, const std::string& data, const Sizes& n, bool indexed) {
  std::vector<DbfRecord> records;
  auto write = [&](const char* file) {
    lumbra::Status s = lumbra::WriteAuroraTable(env, data, file, records, indexed);
    if (!s.ok()) std::fprintf(stderr, "%s\n", s.ToString().c_str());
    records.clear();
  };
  for (long i = 0; i < n.customers; ++i) {
    records.push_back({{{"NAME", Name("Customer ", i)}, {"ACCOUNT", Name("C", i)},
                        {"CONTACT", "Contact person"}, {"ADDR1", Name("", i) + " Long Street"},
                        {"ADDR3", "Dunedin"}, {"PHONE", "03 477 0000"}, {"CURRENT", "125.5"},
                        {"DAYS", "20"}, {"NOTES", i % 10 == 0 ? "Ring first\r\nBack door" : ""}}});
  }
  write("DMASTER.DBF");
  for (long i = 0; i < n.items; ++i) {
    records.push_back({{{"CODE", Name("I", i)}, {"INSTOCK", "40"}, {"ALLOC", i % 3 ? "1.5" : "40"}}});
  }
  write("STKBALS.DBF");
  for (long i = 0; i < n.items; ++i) {
    records.push_back({{{"CODE", Name("I", i)}, {"DESC", Name("Stock item number ", i)},
                        {"SELL1", "12.5"}, {"LATEST", "7.25"}}});
  }
  write("STOCK.DBF");
  long invoices = n.lines / 4;
  for (long i = 1; i <= invoices; ++i) {
    records.push_back({{{"NAME", Name("Customer ", i % n.customers)}, {"LINK", std::to_string(i)},
                        {"POSTED", i % 2 ? "1" : "0"}, {"INVNUM", std::to_string(10000 + i)},
                        {"ORDNUM", Name("O", i)}, {"DATE", "20061104"}, {"DELADD1", "2 Wharf St"},
                        {"TOTAL", "100"}, {"GST", "11.11"}}});
  }
  write("INVIDX.DBF");
  for (long i = 0; i < n.lines; ++i) {
    records.push_back({{{"LINK", std::to_string(i / 4 + 1)}, {"CODE", Name("I", i % n.items)},
                        {"DESC", Name("Stock item number ", i % n.items)}, {"QTY", "2"},
                        {"RATE", "12.5"}, {"DISC", i % 5 ? "0" : "10"}, {"EXTEND", "25"},
                        {"NOTE", i % 20 == 0 ? "Leave at the door" : ""}}});
  }
  write("OLDINV.DBF");
  for (long i = 0; i < 1000; ++i) records.push_back({{{"NAME", Name("Supplier ", i)}, {"AKEY", Name("S", i)}}});
  write("CMASTER.DBF");
  for (long i = 0; i < 50; ++i) {
    records.push_back({{{"GRP", i % 2 ? "S" : "M"}, {"CODE", Name("A", i)}, {"DESC", Name("Code ", i)}}});
  }
  write("TABLES.DBF");
  records.push_back({{{"LINK", std::to_string(invoices)}, {"NEXTINV", std::to_string(10000 + invoices)}}});
  write("Flags.dbf");
}

// One device's file: orders of ten lines for customers and items spread over
// the tables, every tenth line with a note.
std::string DeviceFile(const Sizes& n) {
  std::string out;
  for (long i = 0; i < n.post; ++i) {
    long order = i / 10;
    long customer = (order * 7919) % n.customers;
    long item = (i * 104729) % n.items;
    out += "20061104" "0930" "InvoiceLines\tCustomer\t" + Name("Customer ", customer) +
           "\tOrdnum\t" + Name("D", order) + "\tDescription\t" + Name("Stock item number ", item) +
           "\tRate\t$12.50\tQty\t2\tExtend\t$25.00" + (i % 10 == 0 ? "\tNote\tCall first" : "") +
           "\r\n";
  }
  return out;
}

// An installation a pass can run in, kept.
int WriteInstallation(lumbra::Env* env, const std::string& dir, const Sizes& n) {
  std::filesystem::create_directories(dir + "/data");
  for (int device = 2; device <= 10; ++device) {
    std::filesystem::create_directories(dir + "/" + std::to_string(device));
  }
  MakeInstallation(env, dir + "/data", n, true);
  lumbra::Status s = env->WriteFile(dir + "/Lumbra.ini",
                                    "appname=MYOB\xAE Aurora (database)\r\npath=data\r\n");
  if (s.ok()) s = env->WriteFile(dir + "/3/transact.xml", DeviceFile(n));
  if (!s.ok()) {
    std::fprintf(stderr, "aurora_bench: %s\n", s.ToString().c_str());
    return 1;
  }
  std::printf("installation for a pass written to %s\n", dir.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Sizes n;
  std::string installation;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--installation")) {
      installation = argv[i + 1];
      continue;
    }
    long v = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--customers")) n.customers = v;
    else if (!std::strcmp(argv[i], "--items")) n.items = v;
    else if (!std::strcmp(argv[i], "--lines")) n.lines = v;
    else if (!std::strcmp(argv[i], "--post")) n.post = v;
  }
  if (n.customers < 1 || n.items < 1 || n.lines < 4) {
    std::fprintf(stderr, "aurora_bench: sizes must be positive\n");
    return 2;
  }
  lumbra::Env* env = lumbra::Env::Default();
  if (!installation.empty()) return WriteInstallation(env, installation, n);
  std::string root = (std::filesystem::temp_directory_path() /
                      ("lumbra-aurora-bench-" + std::to_string(::getpid()))).string();
  for (bool indexed : {true, false}) {
    std::string dir = root + (indexed ? "/indexed" : "/plain");
    std::filesystem::create_directories(dir + "/1");
    std::filesystem::create_directories(dir + "/data");
    auto t0 = std::chrono::steady_clock::now();
    MakeInstallation(env, dir + "/data", n, indexed);
    std::printf("installation written%s: %ld customers, %ld stock items with balances, %ld "
                "invoice lines, in %.2f s\n", indexed ? " with structural indexes" : " without indexes",
                n.customers, n.items, n.lines, Seconds(t0));

    // Measured without the write-back of the generated tables still pending.
    ::sync();
    lumbra::RunLog log(env, dir + "/Lumbra.log");
    lumbra::RunContext ctx(env, &log, dir, dir);
    ctx.DataPath = "data";
    double cpu;
    if (indexed) {
      t0 = std::chrono::steady_clock::now();
      cpu = CpuSeconds();
      lumbra::ExportAuroraData(ctx);
      std::printf("export of the seven device tables: %.2f s (%.2f s CPU)\n", Seconds(t0),
                  CpuSeconds() - cpu);
    }

    // Through the intake, as a pass posts: taken over, archived, each line
    // under its locks and written down in the posting journal.
    std::filesystem::create_directories(dir + "/3");
    env->WriteFile(dir + "/3/transact.xml", DeviceFile(n));
    ctx.BackendName = std::string(lumbra::kAuroraBackend);
    std::unique_ptr<lumbra::Posting> posting = lumbra::PostingFor(ctx);
    ::sync();
    t0 = std::chrono::steady_clock::now();
    cpu = CpuSeconds();
    lumbra::TakeInTransactions(ctx, posting.get());
    std::printf("posting of %ld device lines (%ld orders) %s: %.2f s (%.2f s CPU; the rest is "
                "waiting for the disk: the journal forced to it before each new invoice, the "
                "tables once)\n",
                n.post, (n.post + 9) / 10, indexed ? "keeping the indexes" : "without indexes",
                Seconds(t0), CpuSeconds() - cpu);

    std::string text;
    env->ReadFile(dir + "/Lumbra.log", &text);
    size_t at = text.find(" lines posted, ");
    if (at != std::string::npos) {
      size_t begin = text.rfind('\n', at) + 1;
      std::printf("%s", text.substr(begin, text.find('\n', at) + 1 - begin).c_str());
    }
  }
  std::filesystem::remove_all(root);
  return 0;
}
