#!/usr/bin/env python3
"""Builds the seed corpora of the fuzz targets, fuzz/corpus/<target>/, from
the repository's own sample files (examples/ and tests/data/, among them the
sample DBF tables of tests/data/dbf). Run it from anywhere after changing
those samples; inputs the fuzzers found and that are kept for good (named
crash-* or found-*) are left alone. The output is committed."""
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def read(rel):
    with open(os.path.join(ROOT, rel), "rb") as f:
        return f.read()


def files(*patterns):
    out = []
    for p in patterns:
        out += sorted(glob.glob(os.path.join(ROOT, p)))
    return [os.path.relpath(f, ROOT) for f in out]


def seed_name(rel):
    return rel.replace("/", "_").replace(" ", "_")


def reset(target):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        if not name.startswith(("crash-", "found-")):
            os.remove(os.path.join(folder, name))
    return folder


def reset_keep(target):
    """The target's folder, as it is (after copy_seeds has filled it)."""
    return os.path.join(CORPUS, target)


def put(folder, name, data, seen):
    if data in seen:
        return
    seen.add(data)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def copy_seeds(target, rels):
    folder, seen = reset(target), set()
    for rel in rels:
        put(folder, seed_name(rel), read(rel), seen)


def small_table(table, memo, max_table=16384, max_memo=49152):
    """The table cut down to the records that fit max_table bytes, its record
    count lowered to match, so that the cut table is still whole."""
    if len(table) > max_table and len(table) >= 12:
        count, header_len, record_len = struct.unpack_from("<IHH", table, 4)
        if record_len > 0 and header_len < max_table:
            keep = min(count, (max_table - header_len - 1) // record_len)
            table = (table[:4] + struct.pack("<I", keep) + table[8:header_len + keep * record_len]
                     + b"\x1a")
    return table, memo[:max_memo]


def companion(stem, exts):
    for ext in exts:
        if os.path.exists(os.path.join(ROOT, stem + ext)):
            return read(stem + ext)
    return b""


def dbf_seed(table, memo, index):
    table, memo = small_table(table, memo)
    return struct.pack("<II", len(table), len(memo)) + table + memo + index


def dbf_seeds(build):
    """The sample tables of tests/data/dbf with their memo files and
    indexes, and the Aurora tables the sample installation's generator
    writes, with the indexes the project's own index writer gives them."""
    folder, seen = reset("dbf"), set()
    for rel in files("tests/data/dbf/*.dbf"):
        stem = rel[:-4]
        memo = companion(stem, (".fpt", ".FPT", ".dbt", ".DBT"))
        index = companion(stem, (".cdx", ".CDX"))
        put(folder, seed_name(rel), dbf_seed(read(rel), memo, index), seen)
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([os.path.join(build, "make_aurora_demo"), tmp], check=True,
                       capture_output=True)
        for name in sorted(os.listdir(tmp)):
            stem, ext = os.path.splitext(name)
            if ext.lower() != ".dbf":
                continue
            def beside(exts):
                for e in exts:
                    if os.path.exists(os.path.join(tmp, stem + e)):
                        with open(os.path.join(tmp, stem + e), "rb") as f:
                            return f.read()
                return b""
            with open(os.path.join(tmp, name), "rb") as f:
                table = f.read()
            put(folder, "aurora_" + name, dbf_seed(table, beside((".FPT", ".fpt")),
                                                   beside((".CDX", ".cdx"))), seen)


def xbase_seeds():
    """Key and FOR expressions as accounting tables write them, each with a
    record of the target's invoice table."""
    folder, seen = reset("xbase_expr"), set()
    record = (b" " + b"Acme Hardware".ljust(20) + b"     123" + b"     1234.50"
              + struct.pack("<d", 0.125) + b"20240229" + struct.pack("<ii", 2460370, 43200000)
              + b"F" + struct.pack("<i", 7) + struct.pack("<q", 15000))
    expressions = [
        "NAME", "UPPER(NAME)", "UPPER(NAME)+DTOS(DATE)", "INVNUM", "STR(INVNUM,8)",
        "INVIDX.NAME", "Invidx->NAME", "DTOS(DATE)+STR(TOTAL,12,2)", "LEFT(NAME,5)",
        "SUBSTR(NAME,2,3)", "PADL(ALLTRIM(NAME),20)", "IIF(POSTED,'Y','N')+NAME",
        "POSTED = .F. .AND. TOTAL > 0", "!DELETED()", "NAME - 'X'", "VAL(NAME) * 2 ^ 3 % 5",
        "DTOC(DATE)", "BINTOC(LINK)", "EMPTY(NAME) .OR. NOT POSTED", "'acme' $ LOWER(NAME)",
        "TRIM(NAME)+RTRIM(NAME)+LTRIM(NAME)", "RIGHT(NAME,3) <> 'xyz'", "DATE + 30", "PADC(NAME,30)",
        "LINK", "STAMP", "PRICE", "RATE", "{^2024-02-29}", "{02/29/24}", "1.5E3",
    ]
    for i, e in enumerate(expressions):
        put(folder, "expr-%02d" % i, e.encode("latin-1") + b"\0" + record, seen)


def mail_lines(transact):
    return b"".join(line for line in transact.splitlines(keepends=True)
                    if line[12:16] == b"Mail")


def messages_seeds():
    folder, seen = reset("messages"), set()
    for rel in files("tests/data/*/*/in/2/messages.txt", "tests/data/intake/mail/in/2/messages.txt",
                     "examples/myob-text/3/messages.txt"):
        transact = os.path.join(os.path.dirname(rel), "transact.xml")
        lines = read(transact) if os.path.exists(os.path.join(ROOT, transact)) else b""
        put(folder, seed_name(rel), read(rel) + b"\0" + mail_lines(lines), seen)


def moneyworks_seeds():
    folder, seen = reset("moneyworks"), set()
    bodies = [read("tests/data/moneyworks/exports/%s.txt" % t)
              for t in ("Name", "Account", "Product", "Job")]
    put(folder, "exports", b"\0".join(bodies), seen)
    put(folder, "errors", b"[ERROR] Login failed\0\xef\xbb\xbf\0[ERROR]\0", seen)


def device_table_seeds(lumbra):
    folder, seen = reset("device_table"), set()
    for rel in files("tests/data/*/tables/*.txt", "tests/data/quickbooks/*-tables/*.txt"):
        coded = subprocess.run([lumbra, "encode"], input=read(rel), capture_output=True,
                               check=True).stdout
        put(folder, seed_name(rel), coded, seen)


def main():
    # The program's build folder also holds make_aurora_demo.
    lumbra = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "lumbra")
    copy_seeds("transaction_line", files("examples/*/*/transact.xml", "tests/data/*/*/in/*/transact.xml",
                                         "tests/data/*/*/transact.xml", "tests/data/*/*/*/*/transact.xml"))
    copy_seeds("device_names", files("examples/*/devicenames.xml", "tests/data/*/*/in/devicenames.xml"))
    copy_seeds("settings", files("examples/*/Lumbra.ini", "tests/data/*/*/in/Lumbra.ini"))
    copy_seeds("menu", files("examples/*/1/menu.xml"))
    copy_seeds("myob_text", files("examples/myob-text/myob/*.TXT", "tests/data/myob/*/myob/*.TXT",
                                  "tests/data/myob/*/in/*.TXT", "tests/data/myob/*/in/myob/*.TXT",
                                  "tests/data/myob/sale-files/*.TXT"))
    copy_seeds("iif", files("tests/data/quickbooks/*.IIF", "examples/quickbooks-iif/quickbooks/*.IIF"))
    copy_seeds("qbxml", files("tests/data/quickbooks/company/*.xml", "tests/data/quickbooks/scan/*.xml",
                              "tests/data/quickbooks/encodings/*.xml"))
    put(reset_keep("settings"), "timeouts.ini",
        b"appname=MoneyWorks Gold\r\npath=moneyworks://u:p@host/D.moneyworks\r\n"
        b"httptimeout=600\r\nqbxmltimeout= 45 \r\nqbxmltimeout=0\r\n", set())
    put(reset_keep("menu"), "levels.xml",
        b"0\tS\tItems\r\n1\tE\t..Empty\r\n0\tN\tNothing\r\n0\tX\t..\\evil\r\n", set())
    dbf_seeds(os.path.dirname(lumbra))
    xbase_seeds()
    messages_seeds()
    moneyworks_seeds()
    device_table_seeds(lumbra)


if __name__ == "__main__":
    main()
