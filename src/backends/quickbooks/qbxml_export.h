// The export of the back-end "QuickBooks® Premier (database)": three fixed
// qbXML queries (items, vendors, invoices), each answered through one round
// trip, whose responses are read as text, line by line, picking values out
// of the lines by their leading tag. Items give StockItems, vendors
// Suppliers and the third response Customers; the third response is also
// kept whole in "1\salesorder.txt".
//
// A response is taken from the front: a line is the text before the next
// line feed, and text after the last line feed is never looked at. Lines are
// expected to begin with their tag, without indentation. A tag value is the
// line without its opening tag and without as many characters plus one at
// its end (the closing tag, assumed to end the line); character references
// stay as they are. Nesting is never looked at: a tag line counts wherever
// it stands between a record's start and end.
#ifndef LUMBRA_BACKENDS_QUICKBOOKS_QBXML_EXPORT_H_
#define LUMBRA_BACKENDS_QUICKBOOKS_QBXML_EXPORT_H_

#include <string>
#include <string_view>

#include "backends/quickbooks/qbxml_processor.h"

namespace lumbra {

struct RunContext;

// The requests, sent exactly as written here: one line each, no line break.
inline constexpr std::string_view kItemQueryRequest =
    R"(<?xml version="1.0"?><?qbxml version="OZ2.0"?><QBXML><QBXMLMsgsRq onError="continueOnError"><ItemQueryRq requestID="2" /></QBXMLMsgsRq></QBXML>)";
inline constexpr std::string_view kVendorQueryRequest =
    R"(<?xml version="1.0"?><?qbxml version="OZ2.0"?><QBXML><QBXMLMsgsRq onError="continueOnError"><VendorQueryRq requestID="2" /></QBXMLMsgsRq></QBXML>)";
inline constexpr std::string_view kInvoiceQueryRequest =
    R"(<?xml version="1.0"?><?qbxml version="OZ2.0"?><QBXML><QBXMLMsgsRq onError="continueOnError"><InvoiceQueryRq requestID="2" /></QBXMLMsgsRq></QBXML>)";

inline constexpr std::string_view kSalesOrderFile = "1\\salesorder.txt";

// Sends the three requests in the order items, vendors, invoices, through
// the processor the options describe (ExportQuickBooksQbxml takes them from
// the environment), and writes StockItems, Suppliers,
// Customers and "1\salesorder.txt". A failed round trip reads as an empty
// response: its table is not written, and "1\salesorder.txt" is left empty.
void ExportQbxml(RunContext& ctx, const QbxmlProcessorOptions& options);

// The three scans, each adding its rows to RowBuffer (not cleared here).
// The customer scan appends every line it takes to *sales_order, ended by
// CR LF.
void ScanItemResponse(RunContext& ctx, std::string_view response);
void ScanVendorResponse(RunContext& ctx, std::string_view response);
void ScanCustomerResponse(RunContext& ctx, std::string_view response, std::string* sales_order);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_QUICKBOOKS_QBXML_EXPORT_H_
