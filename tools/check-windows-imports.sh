#!/usr/bin/env bash
# Checks a Windows program's imports (objdump -p): only DLLs that every
# Windows has, so the program runs where it is copied, and no ODBC function
# of the ANSI kind ("SQLExecDirectA"): Wine's driver manager has those only
# as stubs that end the process; nor one that carries text without its "W".
# Prints the DLLs it imports.
#   check-windows-imports.sh OBJDUMP PROGRAM.exe
set -euo pipefail
objdump=$1 exe=$2
allowed=" kernel32.dll msvcrt.dll user32.dll advapi32.dll odbc32.dll shell32.dll ws2_32.dll winhttp.dll ole32.dll oleaut32.dll "
dump=$("$objdump" -p "$exe")
bad=0
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
for dll in $dlls; do
  lower=$(tr 'A-Z' 'a-z' <<<"$dll")
  case "$allowed" in
    *" $lower "*) ;;
    *) echo "$exe imports $dll, which Windows does not have of itself" >&2; bad=1 ;;
  esac
done
ansi=$(grep -Eo '\bSQL[A-Za-z]+A\b' <<<"$dump" | sort -u || true)
if [ -n "$ansi" ]; then
  echo "$exe imports ANSI ODBC functions: $(echo $ansi)" >&2
  bad=1
fi
# Nor the unsuffixed forms of the functions that carry text: Windows'
# driver manager converts their text with the machine's ANSI code page, not
# Windows-1252; the program uses their "...W" forms.
narrow=""
for f in SQLBrowseConnect SQLColAttribute SQLColAttributes SQLColumnPrivileges SQLColumns \
         SQLConnect SQLDataSources SQLDescribeCol SQLDriverConnect SQLDrivers SQLError \
         SQLExecDirect SQLForeignKeys SQLGetCursorName SQLGetDiagField SQLGetDiagRec SQLGetInfo \
         SQLNativeSql SQLPrepare SQLPrimaryKeys SQLProcedureColumns SQLProcedures \
         SQLSpecialColumns SQLStatistics SQLTablePrivileges SQLTables; do
  grep -Eq "[[:space:]]$f\$" <<<"$dump" && narrow="$narrow $f"
done
if [ -n "$narrow" ]; then
  echo "$exe imports ODBC functions whose text Windows converts with the ANSI code page:$narrow" >&2
  bad=1
fi
[ $bad -eq 0 ] && echo "$(basename "$exe") imports only:" $dlls
exit $bad
