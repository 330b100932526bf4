#!/usr/bin/python3
"""Checks the table engine against two independent DBF readers, dbfread
(python3-dbfread) and dbf (python3-dbf), and makes tables with dbf.

  compare dbfread|dbf TABLE READING   the engine's reading (see ReadingOf in
                                      tests/dbf_test_support.h) equals the reader's
  compare-dump TABLE DUMP [--deleted] the dump equals dbfread's values shown
                                      by the dump's rules
  count TABLE...                      reads everything with both readers;
                                      prints dbfread's number of live records,
                                      one line per table
  make-tables DIR                     writes the tables of make_tables()
"""
import collections
import datetime
import decimal
import os
import re
import struct
import sys
import warnings

warnings.simplefilter('ignore')
import dbfread  # noqa: E402

BYTES = 'latin-1'  # one character per byte: text is compared as bytes


def text(v):
    return v.decode(BYTES) if isinstance(v, bytes) else v


def crlf(s):
    return re.sub(r'\r\n|\r|\n', '\r\n', s)


def stamp(v):
    v += datetime.timedelta(microseconds=500000)
    return '%04d%02d%02d %02d:%02d:%02d' % (v.year, v.month, v.day, v.hour, v.minute, v.second)


def dbase4_memo(path, block):
    """A dBase IV memo by the length in its block header, which counts the
    header's 8 bytes; dbfread reads 8 bytes too many and cuts at 0x1F."""
    with open(path, 'rb') as f:
        f.seek(20)
        size = struct.unpack('<H', f.read(2))[0]
        f.seek(block * (size if size >= 64 and size % 64 == 0 else 512))
        head = f.read(8)
        if head[:4] != b'\xff\xff\x08\x00':
            return None
        return f.read(max(struct.unpack('<I', head[4:])[0] - 8, 0)).decode(BYTES)


def dbfread_table(path):
    """(fields, vfp, rows): rows in table order as (deleted, values, raws)."""
    args = dict(encoding=BYTES, recfactory=None, ignore_missing_memofile=True)
    parsed, raw = dbfread.DBF(path, **args), dbfread.DBF(path, raw=True, **args)
    h = parsed.header
    with open(path, 'rb') as f:
        data = f.read()
    marks = []
    for pos in range(h.headerlen, len(data), h.recordlen):
        if data[pos] in b' *':
            marks.append(data[pos] == ord('*'))
        elif data[pos] == 0x1A:
            break
    it = {m: zip(parsed._iter_records(k), raw._iter_records(k))
          for m, k in ((False, b' '), (True, b'*'))}
    memo = parsed.memofilename
    dbase4 = memo is not None and memo.lower().endswith('.dbt') and h.dbversion != 0x83
    rows = []
    for deleted in marks:
        p, r = next(it[deleted])
        values, raws = [v for _, v in p], [v for _, v in r]
        for i, f in enumerate(parsed.fields):
            if dbase4 and f.type == 'M' and raws[i].strip():
                fixed = dbase4_memo(memo, int(raws[i]))
                if fixed is not None:
                    assert values[i].startswith(fixed)
                    values[i] = fixed
        rows.append((deleted, values, raws))
    return parsed.fields, h.dbversion in (0x30, 0x31, 0x32), rows


def dbf_table(path):
    import dbf
    # Read as code page 437, which gives every byte a character of its own,
    # so that the texts go back to the stored bytes whatever the table says.
    codec = 'cp437'
    t = dbf.Table(path, codepage=codec)
    t.open(dbf.READ_ONLY)
    field = collections.namedtuple('Field', 'name type')
    fields = [field(n.upper(), chr(t.field_info(n)[0])) for n in t.field_names]
    rows = [(dbf.is_deleted(r), [v.encode(codec).decode(BYTES) if isinstance(v, str) else v
                                 for v in r], [None] * len(fields)) for r in t]
    t.close()
    with open(path, 'rb') as f:
        return fields, f.read(1)[0] in (0x30, 0x31, 0x32), rows


def same(ftype, e, v, vfp):
    """Whether the engine's text e says what the reader's value v says."""
    if ftype in 'CV':
        return e.rstrip(' \0') == (v or '').rstrip(' \0')
    if ftype in 'NF':
        e = e.strip(' \0')
        return e == '' if v is None else e != '' and float(e) == float(v)
    if ftype == 'D':
        return e.strip(' 0') == '' if v is None else e == '%04d%02d%02d' % (v.year, v.month, v.day)
    if ftype == 'L':
        return {'T': True, 't': True, 'Y': True, 'y': True, 'F': False, 'f': False, 'N': False,
                'n': False, '?': None, ' ': None}.get(e, 'bad') == v
    if ftype in 'I+':
        return int(e) == v
    if ftype == 'Y':
        return decimal.Decimal(e) == decimal.Decimal(v)
    if (ftype == 'B' and vfp) or ftype == 'O':
        return float(e) == v
    if ftype in 'T@':
        return e == ('' if v is None else stamp(v))
    if ftype in 'MGPBW':
        binary = isinstance(v, dbfread.memo.BinaryMemo)
        return e == ('' if v is None else text(v) if binary else crlf(text(v)))
    return e.rstrip(' ') == str(text(v)).rstrip(' ')


def load_reading(path):
    with open(path, encoding=BYTES, newline='') as f:
        lines = [[re.sub(r'%([0-9A-F]{2})', lambda m: chr(int(m.group(1), 16)), c)
                  for c in line.split('\t')] for line in f.read().split('\n')[:-1]]
    return lines[0], [(line[0] == '*', line[1:]) for line in lines[1:]]


def compare(reader, table, reading):
    fields, vfp, rows = (dbfread_table if reader == 'dbfread' else dbf_table)(table)
    names, mine = load_reading(reading)
    vis = [i for i, f in enumerate(fields) if f.type != '0']
    if [n.upper() for n in names] != [fields[i].name.upper() for i in vis]:
        return ['field names: engine %r, %s %r' % (names, reader, [f.name for f in fields])]
    # Fields are reached by name: of two with one name the engine gives the first.
    first = {}
    source = [first.setdefault(fields[i].name.upper(), i) for i in vis]
    errors = [] if len(mine) == len(rows) else [
        'engine reads %d records, %s %d' % (len(mine), reader, len(rows))]
    for n, ((deleted, e), (odel, values, _)) in enumerate(zip(mine, rows), 1):
        if deleted != odel:
            errors.append('record %d: deleted %s in the engine, %s in %s' % (n, deleted, odel, reader))
        for k, i in enumerate(source):
            if not same(fields[i].type, e[k], values[i], vfp):
                errors.append('record %d field %s: engine %r, %s %r'
                              % (n, fields[i].name, e[k], reader, values[i]))
    return errors


def flatten(m):
    """The export's memo flattening, written afresh from its rule."""
    out, p = '', m.find('\r')
    while p != -1:
        out, m = out + m[:p] + ' ', m[p + 2:]
        p = m.find('\r')
    return out + m.strip(' ')


def dump_value(ftype, v, raw, vfp):
    raw = text(raw)
    if ftype in 'NFL':
        return raw.strip(' \0')
    if ftype == 'D':
        return '' if v is None else '%04d%02d%02d' % (v.year, v.month, v.day)
    if ftype == 'Y':
        return '%.4f' % v
    if (ftype == 'B' and vfp) or ftype == 'O':
        return v  # compared as a number
    if ftype in 'T@':
        return '' if v is None else stamp(v)
    if ftype in 'MGPBW':
        if isinstance(v, dbfread.memo.BinaryMemo):
            return '(%d bytes)' % len(v)
        return '' if v is None else flatten(crlf(text(v)))
    return str(text(v)).rstrip(' \0')


def compare_dump(table, dump, show_deleted):
    fields, vfp, rows = dbfread_table(table)
    vis = [i for i, f in enumerate(fields) if f.type != '0']
    want = ['\t'.join(([''] if show_deleted else []) + [fields[i].name for i in vis])]
    for deleted, values, raws in rows:
        if deleted and not show_deleted:
            continue
        cells = [dump_value(fields[i].type, values[i], raws[i], vfp) for i in vis]
        if show_deleted:
            cells.insert(0, '*' if deleted else '')
        want.append(cells)
    with open(dump, encoding=BYTES, newline='') as f:
        got = f.read().split('\n')
    if got.pop() != '':
        return ['the dump does not end with a line feed']
    errors = [] if len(got) == len(want) else ['dump has %d lines, want %d' % (len(got), len(want))]
    for n, (g, w) in enumerate(zip(got, want)):
        if isinstance(w, str):
            ok = g == w
        else:
            c = g.split('\t')
            ok = len(c) == len(w) and all(
                float(a) == b if isinstance(b, float) else a == re.sub('[\t\r\n]', ' ', b)
                for a, b in zip(c, w))
        if not ok:
            errors.append('line %d: dump %r, want %r' % (n + 1, g, w))
    return errors


def count(table):
    rows = dbfread_table(table)[2]
    try:
        dbf_table(table)
    except Exception as e:  # noqa: BLE001 - a table type dbf does not read
        if 'not supported' not in str(e):
            raise
    print(sum(1 for r in rows if not r[0]))
    return []


def make_tables(folder):
    """Tables written by dbf for the engine to read: each kind with memos
    and a deleted record, each kind empty, Visual FoxPro's binary types, and
    a table whose last record has no end marker after it."""
    import dbf

    def make(name, kind, field_list, rows):
        t = dbf.Table(os.path.join(folder, name), field_list, dbf_type=kind, codepage='cp1252')
        t.open(dbf.READ_WRITE)
        for r in rows:
            t.append(r)
        if len(rows) > 3:
            dbf.delete(t[3])
        t.close()

    rows = [('Alice', 1.5, datetime.date(2006, 3, 5), True, 'Ring before\r\ndelivery '),
            ('Bob', -2, None, False, ''),
            ('Caf\xe9 \u20ac', 12345.67, datetime.date(1999, 12, 31), None, 'one\nline\tfeed'),
            ('Gone', 3, None, True, 'deleted but kept'),
            ('Zoe', 0, datetime.date(2024, 2, 29), False, 'x' * 700)]
    for kind in ('db3', 'fp', 'vfp'):
        for name, data in (('mixed', rows), ('empty', [])):
            make('%s_%s' % (kind, name), kind, 'name C(20); qty N(8,2); born D; ok L; notes M',
                 data)
    make('vfp_types', 'vfp', 'code C(10); count I; price Y; stamp T; ratio B; note M',
         [('A1', 42, decimal.Decimal('12.34'), datetime.datetime(2006, 3, 5, 9, 5, 7), 2.5, 'a'),
          ('B2', -7, decimal.Decimal('-0.5'), None, 1e-7, ''),
          ('C3', 0, 0, datetime.datetime(1999, 12, 31, 23, 59, 59), 123456.0, 'x\r\ny')])
    for ext in ('.dbf', '.dbt'):
        with open(os.path.join(folder, 'db3_mixed' + ext), 'rb') as f:
            data = f.read()
        with open(os.path.join(folder, 'db3_noend' + ext), 'wb') as f:
            f.write(data[:-1] if ext == '.dbf' and data.endswith(b'\x1a') else data)
    return []


def main(a):
    if len(a) == 5 and a[1] == 'compare' and a[2] in ('dbfread', 'dbf'):
        errors = compare(a[2], a[3], a[4])
    elif len(a) in (4, 5) and a[1] == 'compare-dump':
        errors = compare_dump(a[2], a[3], a[4:] == ['--deleted'])
    elif len(a) >= 3 and a[1] == 'count':
        errors = [e for table in a[2:] for e in count(table)]
    elif len(a) == 3 and a[1] == 'make-tables':
        errors = make_tables(a[2])
    else:
        print(__doc__)
        return 2
    print('\n'.join(errors[:50]))
    return 1 if errors else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
