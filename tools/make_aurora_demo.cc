// Creates the tables of a small Aurora installation for the bundled sample:
//   make_aurora_demo <data-folder>
// The folder gets DMASTER.DBF, STKBALS.DBF, STOCK.DBF, INVIDX.DBF, OLDINV.DBF,
// CMASTER.DBF, TABLES.DBF and Flags.dbf (with their memo files) and an item
// picture in images\.
#include <cstdio>
#include <string>
#include <vector>

#include "backends/aurora/aurora_layouts.h"
#include "platform/env.h"
#include "text/paths.h"

namespace {

using lumbra::DbfRecord;

DbfRecord R(std::vector<std::pair<std::string, std::string>> values) {
  return DbfRecord{std::move(values), false};
}

std::vector<std::pair<std::string, std::vector<DbfRecord>>> DemoTables() {
  return {
      {"DMASTER.DBF",
       {R({{"NAME", "Harbour Cafe"}, {"ACCOUNT", "HAR01"}, {"CONTACT", "Tom Reid"},
           {"ADDR1", "2 Wharf St"}, {"ADDR2", "Port Chalmers"}, {"ADDR3", "Dunedin"},
           {"DADDR1", "2 Wharf St"}, {"DADDR2", "Port Chalmers"}, {"PHONE", "03 472 8000"},
           {"EMAIL", "tom@harbourcafe.example"}, {"CURRENT", "245.5"}, {"O30", "80"},
           {"DAYS", "20"}, {"NOTES", "Deliveries via the lane\r\nClosed Mondays"}}),
        R({{"NAME", "Kiwi Bakery"}, {"ACCOUNT", "KIW02"}, {"CONTACT", "Ana Smith"},
           {"ADDR1", "15 Great King St"}, {"ADDR3", "Dunedin"}, {"PHONE", "03 477 2211"},
           {"MOBILE", "021 555 010"}, {"CURRENT", "0"}, {"DAYS", "7"}}),
        R({{"NAME", "Caf\xE9 Rose"}, {"ACCOUNT", "CAF03"}, {"ADDR1", "9 Princes St"},
           {"DAYS", "30"}, {"O60", "12.75"}})}},
      {"STKBALS.DBF",
       {R({{"CODE", "BEAN1"}, {"INSTOCK", "40"}, {"ALLOC", "6"}}),
        R({{"CODE", "JUG6"}, {"INSTOCK", "12"}, {"ALLOC", "0"}}),
        R({{"CODE", "CUP100"}, {"INSTOCK", "200"}, {"ALLOC", "25"}}),
        R({{"CODE", "TAMP"}, {"INSTOCK", "3"}, {"ALLOC", "3"}})}},
      {"STOCK.DBF",
       {R({{"CODE", "BEAN1"}, {"DESC", "Espresso beans 1kg"}, {"SELL1", "32.5"},
           {"LATEST", "21.4"}, {"IMAGE", "17"}}),
        R({{"CODE", "JUG6"}, {"DESC", "Milk jug 600ml"}, {"SELL1", "18"}, {"LATEST", "9.95"}}),
        R({{"CODE", "CUP100"}, {"DESC", "Paper cups (100)"}, {"SELL1", "9.5"},
           {"LATEST", "4.2"}}),
        R({{"CODE", "TAMP"}, {"DESC", "Tamper 58mm"}, {"SELL1", "45"}, {"LATEST", "22"}})}},
      {"INVIDX.DBF",
       {R({{"NAME", "Kiwi Bakery"}, {"LINK", "41"}, {"POSTED", "1"}, {"INVNUM", "1040"},
           {"ORDNUM", "K-77"}, {"DATE", "20061020"}}),
        R({{"NAME", "Kiwi Bakery"}, {"LINK", "42"}, {"POSTED", "0"}, {"INVNUM", "1041"},
           {"ORDNUM", "K-78"}, {"DATE", "20061101"}, {"TOTAL", "51.19"}, {"GST", "5.69"},
           {"DELADD1", "15 Great King St"}, {"DELADD3", "Dunedin"}})}},
      {"OLDINV.DBF",
       {R({{"LINK", "41"}, {"CODE", "TAMP"}, {"DESC", "Tamper 58mm"}, {"QTY", "1"},
           {"RATE", "45"}, {"EXTEND", "45"}}),
        R({{"LINK", "42"}, {"CODE", "CUP100"}, {"DESC", "Paper cups (100)"}, {"QTY", "5"},
           {"RATE", "9.5"}, {"DISC", "4.2"}, {"EXTEND", "45.5"},
           {"NOTE", "Same as last week"}})}},
      {"CMASTER.DBF",
       {R({{"NAME", "Roastery Ltd"}, {"AKEY", "ROA"}, {"ADDR1", "40 Crawford St"},
           {"ADDR3", "Dunedin"}, {"CONTACT", "Jo Lee"}, {"PHONE", "03 455 0000"},
           {"CURRENT", "1200"}, {"NOTES", "Order by Thursday"}}),
        R({{"NAME", "Cup Supplies"}, {"AKEY", "CUP"}, {"EMAIL", "sales@cups.example"}})}},
      {"TABLES.DBF",
       {R({{"GRP", "S"}, {"CODE", "INST"}, {"DESC", "Machine installation"}}),
        R({{"GRP", "S"}, {"CODE", "SERV"}, {"DESC", "Service call"}}),
        R({{"GRP", "M"}, {"DESC", "Courier"}}), R({{"GRP", "M"}, {"DESC", "Pick up"}}),
        R({{"GRP", "P"}, {"CODE", "CASH"}, {"DESC", "Cash"}})}},
      {"Flags.dbf", {R({{"LINK", "42"}, {"NEXTINV", "1041"}})}},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_aurora_demo <data-folder>\n");
    return 2;
  }
  lumbra::Env* env = lumbra::Env::Default();
  std::string dir = argv[1];
  for (const std::string& folder : {dir, lumbra::JoinPath(dir, "images")}) {
    if (!env->DirExists(folder)) env->CreateDir(folder);
  }
  for (const auto& [file, records] : DemoTables()) {
    lumbra::Status s = lumbra::WriteAuroraTable(env, dir, file, records);
    if (!s.ok()) {
      std::fprintf(stderr, "make_aurora_demo: %s\n", s.ToString().c_str());
      return 1;
    }
  }
  // Not a real picture: the pass copies the file, it never looks inside.
  env->WriteFile(lumbra::JoinPath(dir, "images/i17.jpg"), "\xFF\xD8\xFF\xE0 sample picture\xFF\xD9");
  return 0;
}
