// How fast the two QuickBooks exports read large sources: an IIF list file
// of many records, and a qbXML item response of many items, the latter both
// scanned in memory and fetched through a processor command (`cat`).
//
//   quickbooks_bench [--records N] [--items N]
//
// Everything happens in a fresh folder under /tmp, removed at the end.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

#include "backends/quickbooks/iif_export.h"
#include "backends/quickbooks/qbxml_export.h"
#include "backends/quickbooks/quickbooks.h"
#include "platform/env.h"
#include "backends/context/run_context.h"
#include "backends/context/run_log.h"

namespace {

using lumbra::RunContext;

// One IIF record: the kind, then `width` - 1 fields, some filled.
std::string IifRecord(const char* kind, int width, const std::function<std::string(int)>& at) {
  std::string line = kind;
  for (int position = 2; position <= width; ++position) line += "\t" + at(position);
  return line + "\r\n";
}

// Customers, inventory and service items and vendors in the proportions of a
// trading company's list export, with QuickBooks' column counts; with
// item_sections, an "!INVITEM" line stands before every item, as some
// exports write it.
std::string IifListFile(size_t records, bool item_sections = false) {
  std::string text = "!HDR\tPROD\tVER\r\nHDR\tQuickBooks Pro\tVersion 26.0D\r\n";
  size_t customers = records * 6 / 10, items = records * 3 / 10;
  text += "!CUST\r\n";
  for (size_t i = 0; i < customers; ++i) {
    std::string n = std::to_string(i);
    text += IifRecord("CUST", 60, [&](int p) -> std::string {
      switch (p) {
        case 2: return "Customer " + n;
        case 3: return n;
        case 6: return n + " High St";
        case 7: return "Springfield";
        case 15: return "08 9335 " + n;
        case 18: return "c" + n + "@example.com";
        case 20: return "Contact " + n;
        case 23: return "Net 30";
        case 60: return "125.50";
        default: return "";
      }
    });
  }
  text += "!INVITEM\r\n";
  for (size_t i = 0; i < items; ++i) {
    std::string n = std::to_string(i);
    const char* type = i % 4 == 0 ? "SERV" : "INVENTORY";
    if (item_sections && i > 0) text += "!INVITEM\r\n";
    text += IifRecord("INVITEM", 58, [&](int p) -> std::string {
      switch (p) {
        case 2: return "ITEM-" + n;
        case 5: return type;
        case 6: return "Item number " + n;
        case 11: return "42";
        case 13: return "2.50";
        case 15: return "1.15";
        case 39: return "ea";
        case 53: return "Parts Co";
        default: return "";
      }
    });
  }
  text += "!VEND\r\n";
  for (size_t i = customers + items; i < records; ++i) {
    std::string n = std::to_string(i);
    text += IifRecord("VEND", 45, [&](int p) -> std::string {
      switch (p) {
        case 2: return "Vendor " + n;
        case 6: return n + " Mill Lane";
        case 11: return "Supplies";
        case 14: return "08 9444 " + n;
        default: return "";
      }
    });
  }
  return text;
}

// An item query response in QuickBooks' wire form.
std::string ItemResponse(size_t items) {
  std::string text = "<?xml version=\"1.0\" ?>\n<QBXML>\n<QBXMLMsgsRs>\n<ItemQueryRs requestID=\"2\">\n";
  for (size_t i = 0; i < items; ++i) {
    std::string n = std::to_string(i);
    text += "<ItemInventoryRet>\n<ListID>8000" + n + "-1710406062</ListID>\n"
            "<TimeCreated>2024-03-14T09:15:02+08:00</TimeCreated>\n"
            "<EditSequence>1710474010</EditSequence>\n<Name>ITEM-" + n + "</Name>\n"
            "<FullName>ITEM-" + n + "</FullName>\n<IsActive>true</IsActive>\n"
            "<SalesDesc>Item number " + n + "</SalesDesc>\n<SalesPrice>2.50</SalesPrice>\n"
            "<IncomeAccountRef>\n<ListID>80000004-1710400004</ListID>\n<FullName>Sales</FullName>\n"
            "</IncomeAccountRef>\n<PurchaseCost>1.10</PurchaseCost>\n<PrefVendorRef>\n"
            "<ListID>80000004-1710402021</ListID>\n<FullName>Parts Co</FullName>\n"
            "</PrefVendorRef>\n<QuantityOnHand>42</QuantityOnHand>\n"
            "<AverageCost>1.08</AverageCost>\n</ItemInventoryRet>\n";
  }
  return text + "</ItemQueryRs>\n</QBXMLMsgsRs>\n</QBXML>\n";
}

// The best wall-clock time of three runs, and the processor time of that
// run (this process only: a command's own time is not in it).
void Measure(const char* what, const std::function<void()>& run) {
  double best_wall = 1e9, best_cpu = 0;
  for (int i = 0; i < 3; ++i) {
    auto wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();
    run();
    double w = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    if (w < best_wall) {
      best_wall = w;
      best_cpu = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    }
  }
  std::printf("  %-44s %7.3f s wall  %7.3f s cpu\n", what, best_wall, best_cpu);
}

}  // namespace

int main(int argc, char** argv) {
  size_t records = 200000, items = 100000;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--records" && i + 1 < argc) {
      records = std::max<size_t>(10, std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--items" && i + 1 < argc) {
      items = std::max<size_t>(1, std::strtoul(argv[++i], nullptr, 10));
    } else {
      std::fprintf(stderr, "usage: %s [--records N] [--items N]\n", argv[0]);
      return 2;
    }
  }
  std::string scratch = (std::filesystem::temp_directory_path() / "lumbra-qb-bench-XXXXXX").string();
  if (mkdtemp(scratch.data()) == nullptr) {
    std::perror("quickbooks_bench: mkdtemp");
    return 1;
  }
  lumbra::Env* env = lumbra::Env::Default();
  env->CreateDir(scratch + "/1");
  env->CreateDir(scratch + "/qb");
  lumbra::RunLog log(env, "");
  RunContext ctx(env, &log, scratch, scratch);
  ctx.DataPath = "qb";

  std::string iif = IifListFile(records);
  env->WriteFile(lumbra::IifListFilePath(ctx), iif);
  std::string response = ItemResponse(items);
  env->WriteFile(scratch + "/qb/ItemQueryRq.xml", response);
  std::printf("IIF list file: %zu records, %.1f MiB; item response: %zu items, %.1f MiB\n", records,
              static_cast<double>(iif.size()) / (1 << 20), items,
              static_cast<double>(response.size()) / (1 << 20));

  Measure("IIF list export (read, sort, write tables)", [&] {
    ctx.SideBuffer.Clear();
    lumbra::ExportQuickBooksIif(ctx);
  });
  env->WriteFile(lumbra::IifListFilePath(ctx), IifListFile(records, true));
  Measure("the same with \"!INVITEM\" before every item", [&] {
    ctx.SideBuffer.Clear();
    lumbra::ExportQuickBooksIif(ctx);
  });
  Measure("qbXML item scan of the response in memory", [&] {
    ctx.RowBuffer.Clear();
    lumbra::ScanItemResponse(ctx, response);
    ctx.RowBuffer.At(0);  // the rows are sorted when first read
  });
  lumbra::QbxmlProcessorOptions options;
  options.command_line = "case $(cat) in *ItemQueryRq*) exec cat \"$QBXML_COMPANY_FILE/ItemQueryRq.xml\";; esac";
  Measure("qbXML export through a processor command", [&] { lumbra::ExportQbxml(ctx, options); });

  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
  return 0;
}
