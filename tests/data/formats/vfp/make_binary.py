#!/usr/bin/python3
# Writes BINARY.DBF (with its memo file BINARY.FPT), a Visual FoxPro table
# whose fields are stored in binary (I, Y, B, T) beside text ones, with
# Debian's python3-dbf, and binary.records.csv, every record as Debian's
# python3-dbfread reads it back. The two readers must agree with the values
# written, or nothing is kept.
#
# Run from this folder: ./make_binary.py
import csv
import datetime
import decimal
import os
import sys

import dbf
import dbfread

TABLE = 'BINARY.DBF'
FIELDS = ('NAME C(10); COUNT I; PRICE Y; RATIO B; STAMP T; WHEN D; '
          'AMOUNT N(8,2); NOTES M')
D = decimal.Decimal
RECORDS = [
    ('alpha', 42, D('12.3456'), 1.5,
     datetime.datetime(2006, 9, 15, 13, 45, 30), datetime.date(2006, 9, 15), 2.5, 'memo'),
    ('negative', -7, D('-0.0001'), -2.25e10,
     datetime.datetime(1899, 12, 30), None, -1, ''),
    (),  # a record appended blank
    ('largest', 2147483646, D('922337203685477.5807'), 1e300,
     datetime.datetime(9999, 12, 31, 23, 59, 59, 999000), datetime.date(9999, 12, 31), 99999.99,
     ''),
    ('smallest', -2147483647, D('-922337203685477.5807'), 0.1,
     datetime.datetime(1, 1, 1), datetime.date(1, 1, 1), -999.99, ''),
    ('fractions', 1000, D('1.5'), 5e-324,
     datetime.datetime(2000, 2, 29, 12, 0, 0, 500000), datetime.date(2000, 2, 29), 0.01, ''),
]


def positional(value):
    """The shortest text that reads back as the same double, without an exponent."""
    text = format(decimal.Decimal(repr(value)).normalize(), 'f')
    return '0' if text == '-0' else text


def stamp_text(value):
    if value is None:
        return ''
    return '%04d-%02d-%02d %02d:%02d:%02d.%03d' % (value.year, value.month, value.day, value.hour,
                                                  value.minute, value.second,
                                                  value.microsecond // 1000)


def main():
    for name in (TABLE, 'BINARY.FPT', 'binary.records.csv'):
        if os.path.exists(name):
            os.remove(name)
    table = dbf.Table(TABLE, FIELDS, dbf_type='vfp', codepage='cp1252')
    table.open(dbf.READ_WRITE)
    for record in RECORDS:
        table.append(record)
    table.close()

    rows = []
    read = list(dbfread.DBF(TABLE, char_decode_errors='strict'))
    if len(read) != len(RECORDS):
        sys.exit('dbfread reads %d records, %d were written' % (len(read), len(RECORDS)))
    for recno, (written, back) in enumerate(zip(RECORDS, read), start=1):
        if written:
            expected = dict(zip(('COUNT', 'PRICE', 'RATIO', 'STAMP'), written[1:5]))
            for field, value in expected.items():
                if back[field] != value:
                    sys.exit('record %d field %s: written %r, read %r' %
                             (recno, field, value, back[field]))
        rows.append({
            'recno': recno,
            'NAME': back['NAME'],
            'COUNT': back['COUNT'],
            'PRICE': format(back['PRICE'], '.4f'),
            'RATIO': positional(back['RATIO']),
            'STAMP': stamp_text(back['STAMP']),
            'WHEN': ('%04d%02d%02d' % (back['WHEN'].year, back['WHEN'].month, back['WHEN'].day)
                     if back['WHEN'] else ''),
            'AMOUNT': '' if back['AMOUNT'] is None else format(back['AMOUNT'], '.2f'),
        })
    with open('binary.records.csv', 'w', newline='') as out:
        writer = csv.DictWriter(out, fieldnames=list(rows[0].keys()), lineterminator='\n')
        writer.writeheader()
        writer.writerows(rows)


if __name__ == '__main__':
    main()
