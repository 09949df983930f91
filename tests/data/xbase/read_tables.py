#!/usr/bin/python3
"""Reads tables with Debian's python3-dbfread and python3-dbf and compares
every record with the values the test wrote (expected.json).

usage: read_tables.py FOLDER EXPECTED.json
Prints one line per difference and exits 1 when there is any; exits 77 when
either module is missing.
"""
import json
import os
import sys

try:
    import dbf
    import dbfread
except ImportError as error:
    print("missing module:", error)
    sys.exit(77)


def text_form(value):
    if value is None:
        return ""
    if isinstance(value, bool):
        return "T" if value else "F"
    if hasattr(value, "strftime"):
        return value.strftime("%Y%m%d") if value else ""
    if isinstance(value, int):
        return str(value)
    if isinstance(value, bytes):
        value = value.decode("latin-1")
    return str(value)


def compare(reader, table, got, want, problems):
    if len(got) != len(want):
        problems.append(f"{reader} {table}: {len(got)} records, expected {len(want)}")
        return
    for number, (g, w) in enumerate(zip(got, want), start=1):
        if g["deleted"] != w["deleted"]:
            problems.append(f"{reader} {table} record {number}: deleted flag differs")
        for name, expected in w["fields"].items():
            value = g["fields"].get(name)
            if value != expected:
                problems.append(f"{reader} {table} record {number} {name}: {value!r} != {expected!r}")


def read_with_dbfread(path, types):
    records = []
    table = dbfread.DBF(path, encoding="cp1252", char_decode_errors="strict")
    for deleted, rows in ((False, table), (True, table.deleted)):
        for row in rows:
            records.append({"deleted": deleted, "fields": {
                k: (v.rstrip(" ") if types[k] == "C" else (v or "") if types[k] == "M" else text_form(v))
                for k, v in row.items()}})
    return records


def read_with_dbf(path, types):
    records = []
    table = dbf.Table(path, codepage="cp1252")
    table.open(dbf.READ_ONLY)
    try:
        for row in table:
            fields = {}
            for name in types:
                v = row[name.lower()]
                if types[name] == "C":
                    fields[name] = v.rstrip(" ")
                elif types[name] == "M":
                    fields[name] = v if v is not None else ""
                else:
                    fields[name] = text_form(v)
            records.append({"deleted": dbf.is_deleted(row), "fields": fields})
    finally:
        table.close()
    return records


def main():
    folder, expected_path = sys.argv[1], sys.argv[2]
    with open(expected_path, encoding="utf-8") as f:
        expected = json.load(f)
    problems = []
    for table, spec in expected.items():
        path = os.path.join(folder, table)
        types = spec["types"]
        want = spec["records"]
        # dbfread lists live records first, then the deleted ones.
        ordered = [r for r in want if not r["deleted"]] + [r for r in want if r["deleted"]]
        compare("dbfread", table, read_with_dbfread(path, types), ordered, problems)
        compare("dbf", table, read_with_dbf(path, types), want, problems)
    for line in problems:
        print(line)
    print(f"{len(expected)} tables compared, {len(problems)} differences")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
