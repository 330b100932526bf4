// The MYOB ODBC export (ExportMyobOdbc, declared in myob.h): while a
// connection file "filestats.dat" lies in the working folder, customers and
// their payments come from a MYOB company file through the driver registered
// as MYOB_ODBC (the name the MYOB driver registers on Windows), whatever the
// back-end setting says.
//
// "filestats.dat" holds three coded lines (decoded as device table lines
// are): the company file, the user name and the password. The export writes
// "1\Customers.dat" (active customers with their card's address, balance and
// payment figures) and "1\Payments.dat" (one row per customer payment). The
// first failure ends it: its description goes to standard error and the run
// log, the device tables not yet written stay as they were, and the pass goes
// on.
#ifndef LUMBRA_BACKENDS_MYOB_MYOB_ODBC_EXPORT_H_
#define LUMBRA_BACKENDS_MYOB_MYOB_ODBC_EXPORT_H_

#include <string>
#include <string_view>

namespace lumbra {

inline constexpr std::string_view kMyobConnectionFile = "filestats.dat";
// The key file that the MYOB ODBC driver requires, installed beside the
// company file's driver set-up.
inline constexpr std::string_view kMyobKeyFile = "lumbra.key";

// The connection string of the MYOB ODBC driver for the three decoded lines
// of "filestats.dat".
std::string MyobConnectionString(std::string_view company_file, std::string_view user,
                                 std::string_view password);

// A street kept on several lines, on one: each line break becomes one
// blank, and blanks around the whole are trimmed.
std::string OneLineStreet(std::string_view street);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_MYOB_MYOB_ODBC_EXPORT_H_
