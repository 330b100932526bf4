// How long a MYOB text-file pass takes when every device hands in work: 99
// devices, each with sale lines, service sales, time slips and mail against
// a message list, MYOB export files of many rows, and the disk syncs the
// pass makes for real. Then the same with one device's message list of
// mostly empty lines, for the memory it takes.
//
//   myob_bench [--rows N] [--lines N] [--messages-mib N]
//
// Everything happens in a fresh folder under /tmp, removed at the end.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "backends/context/run_context.h"
#include "backends/context/run_log.h"
#include "platform/env.h"
#include "run/run_driver.h"
#include "text/text_fields.h"

namespace {

using lumbra::Env;

double CpuSeconds() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long PeakRssMiB() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

void Write(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  lumbra::Status s = Env::Default()->WriteFile(path, bytes);
  if (!s.ok()) {
    std::fprintf(stderr, "myob_bench: %s\n", s.ToString().c_str());
    std::exit(1);
  }
}

// A name the device tables fold, every seventh row.
std::string Name(const char* stem, size_t i) {
  return std::string(stem) + (i % 7 == 0 ? " M\xFCller " : " ") + std::to_string(i);
}

// ITEM.TXT, CUST.TXT and ACTIVITY.TXT of `rows` rows each, the tax codes and
// the ready-made tables.
void WriteInstallation(const std::string& dir, size_t rows) {
  Write(dir + "/Lumbra.ini", "appname=MYOB\xAE Premier v9 (text files)\r\npath=myob/\r\n");
  std::string names;
  for (int d = 1; d <= 99; ++d) {
    names += "Van " + std::to_string(d) + "\t" + std::to_string(d) + "\r\n";
  }
  Write(dir + "/devicenames.xml", names);
  Write(dir + "/Myob1.dat", lumbra::EncodeLine("Freighttype") + "\r\n");
  Write(dir + "/Myob2.dat", lumbra::EncodeLine("Paymenttype\t") + "\r\n");
  Write(dir + "/myob/NONCONTAXCODE.TXT",
        "Tax Code\tDescription\tTax Type\tRate\r\nS\tStd\tGST\t10\r\n");
  std::string items =
      "Item Number\tItem Name\tBuy\tSell\tInventory" + std::string(5, '\t') + "Description" +
      std::string(8, '\t') + "Primary Supplier" + std::string(7, '\t') +
      "Selling Price\tSell Unit Measure\tTax Code When Sold\r\n";
  std::string customers = "Co./Last Name\tFirst Name\tCard ID\tAddr 1 - Line 1\tNotes\r\n";
  std::string activities = "Activity ID\tActivity Name\tActivity Rate\r\n";
  for (size_t i = 0; i < rows; ++i) {
    const std::string n = std::to_string(i);
    items += "C" + n + "\t" + Name("Item", i) + "\tB\tS\tI" + std::string(5, '\t') + "About " + n +
             std::string(8, '\t') + "Supplier" + std::string(7, '\t') + "$1.00\teach\tS\r\n";
    customers += Name("Shop", i) + "\t\tCUS" + n + "\t" + n + " High St\tNotes " + n + "\r\n";
    activities += "A" + n + "\t" + Name("Task", i) + "\t$50.00\r\n";
  }
  Write(dir + "/myob/ITEM.TXT", items);
  Write(dir + "/myob/CUST.TXT", customers);
  Write(dir + "/myob/ACTIVITY.TXT", activities);
}

// Each device: `lines` lines, orders of five item lines, a service sale, a
// time slip and a mail line in every ten, names as the devices got them.
void WriteHandIns(const std::string& dir, size_t rows, size_t lines) {
  for (int d = 1; d <= 99; ++d) {
    std::string hand_in, messages;
    for (size_t i = 0; i < lines; ++i) {
      const size_t k = (static_cast<size_t>(d) * 7919 + i * 104729) % rows;
      std::string shop = Name("Shop", k), item = Name("Item", k), task = Name("Task", k);
      for (std::string* s : {&shop, &item, &task}) {
        for (char& c : *s) c = c == '\xFC' ? 'u' : c;
      }
      const std::string order = std::to_string(i / 5);
      if (i % 10 == 7) {
        hand_in += "20261204abcdMail\tMSG-" + std::to_string(i) + "\tOffice\tRead\r\n";
        messages += std::to_string(i) + "\tMSG-" + std::to_string(i) + "\tOffice\r\n";
      } else if (i % 10 == 8) {
        hand_in += "20261204abcdInvoiceLines\tCustomer\t" + shop + "\tOrdnum\tS" + order +
                   "\tAccount Number\t4-1000\tNote\tCall-out\tExtend\t$40.00\r\n";
      } else if (i % 10 == 9) {
        hand_in += "20261204abcdJobs\tEmployee\tNguyen\tCustomer\t" + shop + "\tActivity\t" + task +
                   "\tQty\t1.5\tHourlyrate\t65.00\tStart\t08:30\tFinish\t10:00\r\n";
      } else {
        hand_in += "20261204abcdInvoiceLines\tCustomer\t" + shop + "\tOrdnum\t" + order +
                   "\tItem\t" + item + "\tQty\t2\tSell1\t$1.00\r\n";
      }
    }
    Write(dir + "/" + std::to_string(d) + "/transact.xml", hand_in);
    Write(dir + "/" + std::to_string(d) + "/messages.txt", messages);
  }
}

struct PassTime {
  double wall, cpu;
};

PassTime RunPassIn(const std::string& dir) {
  Env* env = Env::Default();
  lumbra::RunLog log(env, dir + "/Lumbra.log");
  lumbra::RunContext ctx(env, &log, dir, dir);
  const auto wall = std::chrono::steady_clock::now();
  const double cpu = CpuSeconds();
  lumbra::RunPass(ctx);
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(),
          CpuSeconds() - cpu};
}

}  // namespace

int main(int argc, char** argv) {
  size_t rows = 100000, lines = 1000, messages_mib = 50;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    const size_t value = std::strtoul(argv[i + 1], nullptr, 10);
    if (arg == "--rows") {
      rows = std::max<size_t>(1, value);
    } else if (arg == "--lines") {
      lines = value;
    } else if (arg == "--messages-mib") {
      messages_mib = value;
    }
  }
  char templ[] = "/tmp/lumbra-myob-bench-XXXXXX";
  if (mkdtemp(templ) == nullptr) return 1;
  const std::string dir = templ;

  WriteInstallation(dir, rows);
  WriteHandIns(dir, rows, lines);
  PassTime full = RunPassIn(dir);
  std::printf("99 devices x %zu lines, MYOB files of %zu rows: %.2f s wall, %.2f s CPU\n", lines,
              rows, full.wall, full.cpu);
  PassTime export_only = RunPassIn(dir);
  std::printf("the same installation, nothing handed in: %.2f s wall, %.2f s CPU\n",
              export_only.wall, export_only.cpu);

  // A message list of mostly empty lines, with one message the mail answers.
  const long peak_before = PeakRssMiB();
  std::string list(messages_mib << 20, '\r');
  list += "1\tMSG-1\tOffice\r\n";
  Write(dir + "/2/messages.txt", list);
  list = std::string();
  Write(dir + "/2/transact.xml", "20261204abcdMail\tMSG-1\tOffice\tRead\r\n");
  PassTime mail = RunPassIn(dir);
  std::printf("a %zu MiB message list of empty lines: %.2f s wall, peak memory %ld MiB "
              "(%ld before)\n",
              messages_mib, mail.wall, PeakRssMiB(), peak_before);
  std::filesystem::remove_all(dir);
  return 0;
}
