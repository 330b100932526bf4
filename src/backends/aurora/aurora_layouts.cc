#include "backends/aurora/aurora_layouts.h"

#include <map>

#include "text/paths.h"

namespace lumbra {
namespace {

DbfColumn C(std::string name, int length) { return DbfColumn{std::move(name), 'C', length, 0}; }
DbfColumn N(std::string name, int length, int decimals) {
  return DbfColumn{std::move(name), 'N', length, decimals};
}
DbfColumn D(std::string name) { return DbfColumn{std::move(name), 'D', 8, 0}; }
DbfColumn L(std::string name) { return DbfColumn{std::move(name), 'L', 1, 0}; }
DbfColumn M(std::string name) { return DbfColumn{std::move(name), 'M', 10, 0}; }

const std::map<std::string, std::vector<DbfColumn>, std::less<>>& Layouts() {
  static const auto* layouts = new std::map<std::string, std::vector<DbfColumn>, std::less<>>{
      {"DMASTER.DBF",
       {C("NAME", 30), C("ACCOUNT", 10), C("CONTACT", 30), C("ADDR1", 30), C("ADDR2", 30),
        C("ADDR3", 30), C("DADDR1", 30), C("DADDR2", 30), C("DADDR3", 30), C("CONTACT2", 30),
        C("PHONE", 20), C("FAX", 20), C("MOBILE", 20), C("EMAIL", 40), N("CURRENT", 12, 2),
        N("O30", 12, 2), N("O60", 12, 2), N("O90", 12, 2), N("DAYS", 4, 0), M("NOTES")}},
      {"STKBALS.DBF", {C("CODE", 15), N("INSTOCK", 10, 2), N("ALLOC", 10, 2)}},
      {"STOCK.DBF",
       {C("CODE", 15), C("DESC", 40), N("SELL1", 10, 2), N("LATEST", 10, 2), C("IMAGE", 8)}},
      {"INVIDX.DBF",
       {C("NAME", 30), C("DELNAME", 30), N("LINK", 8, 0), N("POSTED", 1, 0), N("INVNUM", 8, 0),
        D("DATE"), D("DUE"), C("TERMS", 8), C("ORDNUM", 15), N("TOTAL", 12, 2), N("GST", 12, 2),
        C("ADD1", 30), C("ADD2", 30), C("ADD3", 30), C("DELADD1", 30), C("DELADD2", 30),
        C("DELADD3", 30), C("DEBTOR", 10), C("METHOD", 15), C("LOCATION", 15), C("SRCE", 1),
        C("AGING", 1), C("BANKACC", 6), C("PAYMETHOD", 2), C("TILLID", 10)}},
      {"OLDINV.DBF",
       {N("LINK", 8, 0), C("CODE", 15), C("DESC", 40), N("QTY", 10, 3), N("RATE", 10, 2),
        N("DISC", 6, 2), N("EXTEND", 12, 2), N("COST", 12, 2), N("GSTEXT", 12, 2),
        C("GSTCODE", 1), L("SERIAL"), L("DERIVE"), M("NOTE")}},
      {"CMASTER.DBF",
       {C("NAME", 30), C("AKEY", 10), C("ADDR1", 30), C("ADDR2", 30), C("ADDR3", 30),
        C("CONTACT", 30), C("CONTACT2", 30), C("PHONE", 20), C("FAX", 20), C("MOBILE", 20),
        C("EMAIL", 40), N("CURRENT", 12, 2), M("NOTES")}},
      {"TABLES.DBF", {C("GRP", 2), C("CODE", 10), C("DESC", 40)}},
      {"Flags.dbf", {N("LINK", 10, 0), N("NEXTINV", 10, 0)}},
  };
  return *layouts;
}

IndexTagSpec Tag(std::string name, std::string key) {
  return IndexTagSpec{std::move(name), std::move(key), "", false, false};
}

const std::map<std::string, std::vector<IndexTagSpec>, std::less<>>& Tags() {
  static const auto* tags = new std::map<std::string, std::vector<IndexTagSpec>, std::less<>>{
      {"DMASTER.DBF", {Tag("ACCOUNT", "ACCOUNT"), Tag("NAME", "UPPER(NAME)")}},
      {"STOCK.DBF", {Tag("CODE", "CODE"), Tag("DESC", "UPPER(DESC)")}},
      {"STKBALS.DBF", {Tag("CODE", "CODE")}},
      {"INVIDX.DBF", {Tag("INVNUM", "INVNUM"), Tag("CUSTOMER", "UPPER(NAME)+DTOS(DATE)")}},
      {"OLDINV.DBF", {Tag("LINK", "LINK"), Tag("CODE", "CODE")}},
  };
  return *tags;
}

}  // namespace

const std::vector<IndexTagSpec>& AuroraIndexTags(std::string_view file_name) {
  static const std::vector<IndexTagSpec> kNone;
  auto it = Tags().find(file_name);
  return it == Tags().end() ? kNone : it->second;
}

const std::vector<DbfColumn>& AuroraLayout(std::string_view file_name) {
  static const std::vector<DbfColumn> kNone;
  auto it = Layouts().find(file_name);
  return it == Layouts().end() ? kNone : it->second;
}

Status WriteAuroraTable(Env* env, const std::string& dir, std::string_view file_name,
                        const std::vector<DbfRecord>& records, bool with_index) {
  const std::vector<DbfColumn>& layout = AuroraLayout(file_name);
  if (layout.empty()) return Status::InvalidArgument("no layout for " + std::string(file_name));
  std::string path = JoinPath(dir, file_name);
  Status s = WriteDbfTable(env, path, layout, records);
  const std::vector<IndexTagSpec>& tags = AuroraIndexTags(file_name);
  if (s.ok() && with_index && !tags.empty()) s = WriteStructuralIndex(env, path, tags);
  return s;
}

}  // namespace lumbra
