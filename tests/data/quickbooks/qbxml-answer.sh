#!/bin/sh
# Answers each qbXML request from the file <query>.xml in the folder QBXML_COMPANY_FILE names.
exec cat "$QBXML_COMPANY_FILE/$(sed -n 's/.*<\([A-Za-z]*QueryRq\) .*/\1/p').xml"
