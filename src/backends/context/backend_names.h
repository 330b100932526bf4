// The back-end names of the settings file, exactly as written there
// (Windows-1252: "\xAE" is the registered sign). The run driver and the
// intake compare whole names exactly; the prefix tests compare the first 4 or
// 10 characters.
#ifndef LUMBRA_BACKENDS_CONTEXT_BACKEND_NAMES_H_
#define LUMBRA_BACKENDS_CONTEXT_BACKEND_NAMES_H_

#include <string_view>

namespace lumbra {

inline constexpr std::string_view kAuroraBackend = "MYOB\xAE Aurora (database)";
inline constexpr std::string_view kAccessBackend = "MS Access\xAE";
inline constexpr std::string_view kSqlServerBackend = "MS\xAE SQL Server";
inline constexpr std::string_view kOdbcBackend = "ODBC Datasource";
inline constexpr std::string_view kQuickBooksDatabaseBackend = "QuickBooks\xAE Premier (database)";
inline constexpr std::string_view kMyobPremierBackend = "MYOB\xAE Premier v9 (text files)";
inline constexpr std::string_view kMyobAccountingPlusBackend =
    "MYOB\xAE Accounting Plus v15 (text files)";
inline constexpr std::string_view kMyobAccountingBackend = "MYOB\xAE Accounting v15 (text files)";
inline constexpr std::string_view kMyobBusinessBasicsBackend =
    "MYOB\xAE Business Basics v1 (text files)";
inline constexpr std::string_view kMoneyWorksGoldBackend = "MoneyWorks Gold";

inline constexpr std::string_view kMyobPrefix = "MYOB";
inline constexpr std::string_view kQuickBooksPrefix = "QuickBooks";
inline constexpr std::string_view kMoneyWorksPrefix = "MoneyWorks";

// "MS Access®", "MS® SQL Server" or "ODBC Datasource".
inline bool IsDatabaseBackend(std::string_view name) {
  return name == kAccessBackend || name == kSqlServerBackend || name == kOdbcBackend;
}

// The MYOB sale import edition of a text-file back-end (0 to 3), or -1 for a
// name whose transactions are not posted as MYOB import files.
inline int MyobEditionOf(std::string_view name) {
  if (name == kMyobPremierBackend) return 0;
  if (name == kMyobAccountingPlusBackend) return 1;
  if (name == kMyobAccountingBackend) return 2;
  if (name == kMyobBusinessBasicsBackend) return 3;
  return -1;
}

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_CONTEXT_BACKEND_NAMES_H_
