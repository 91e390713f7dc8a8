#!/usr/bin/env python3
"""Writes src/base/unicode_tables.cpp: the code points that the quoted form
shows as \\u{h}.

Those are the characters of general category Cc, Cf, Cs, Co and Cn
(unassigned), the space, line and paragraph separators (Zs, Zl, Zp) except the
ASCII space, and every character with the Grapheme_Extend property. The table
is a sorted list of disjoint, non-adjacent inclusive ranges, so a lookup is one
binary search.

The input is the Unicode Character Database as Debian's unicode-data package
installs it. Run from the repository root:

    python3 tools/gen_unicode_tables.py
    python3 tools/gen_unicode_tables.py --ucd-dir /usr/share/unicode --output src/base/unicode_tables.cpp

The table is laid out by this script (clang-format leaves it alone), so
regenerating from an unchanged database gives an unchanged file.
"""

import argparse
import re
import sys
from pathlib import Path

MAX_CODE_POINT = 0x10FFFF
ESCAPED_CATEGORIES = {"Cc", "Cf", "Cs", "Co", "Cn", "Zs", "Zl", "Zp"}
ENTRIES_PER_LINE = 4


TEMPLATE = r"""// GENERATED FILE, do not edit. Unicode @VERSION@.
//
// The code points that the quoted form writes as \u{h}: general categories
// Cc, Cf, Cs, Co and Cn (unassigned), Zs, Zl and Zp except U+0020, and the
// Grapheme_Extend property; @COUNT@ sorted, disjoint, non-adjacent inclusive
// ranges. Made by tools/gen_unicode_tables.py from UnicodeData.txt and
// DerivedCoreProperties.txt of Debian's unicode-data package; to regenerate,
// install that package and run from the repository root:
//   python3 tools/gen_unicode_tables.py
#include "base/unicode_tables.h"

namespace tilvane {
namespace {

// clang-format off
constexpr CodePointRange kEscapedRanges[] = {
@BODY@
};
// clang-format on

}  // namespace

std::span<const CodePointRange> escaped_code_point_ranges() { return kEscapedRanges; }

std::string_view unicode_version() { return "@VERSION@"; }

}  // namespace tilvane
"""


def read_general_categories(path):
    """Returns a list of MAX_CODE_POINT + 1 category names; "Cn" where the
    database assigns nothing. A <..., First> line and its <..., Last> line
    stand for the whole range between them."""
    categories = ["Cn"] * (MAX_CODE_POINT + 1)
    range_start = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split(";")
            if len(fields) < 3:
                continue
            code_point = int(fields[0], 16)
            name, category = fields[1], fields[2]
            if name.endswith(", First>"):
                range_start = code_point
                continue
            if name.endswith(", Last>"):
                if range_start is None:
                    sys.exit(f"{path}: range end {fields[0]} without a start")
                for c in range(range_start, code_point + 1):
                    categories[c] = category
                range_start = None
                continue
            categories[code_point] = category
    if range_start is not None:
        sys.exit(f"{path}: range start without an end")
    return categories


def read_property(path, property_name):
    """Returns the set of code points that have the named binary property,
    and the Unicode version that the file's first line names."""
    members = set()
    version = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            if version is None:
                match = re.match(r"#\s*DerivedCoreProperties-([0-9.]+)\.txt", line)
                if match:
                    version = match.group(1)
            data = line.split("#", 1)[0].strip()
            if not data:
                continue
            fields = [field.strip() for field in data.split(";")]
            if fields[1] != property_name:
                continue
            if ".." in fields[0]:
                first, last = (int(part, 16) for part in fields[0].split(".."))
            else:
                first = last = int(fields[0], 16)
            members.update(range(first, last + 1))
    if version is None:
        sys.exit(f"{path}: no version line")
    if not members:
        sys.exit(f"{path}: no code point has {property_name}")
    return members, version


def escaped_ranges(categories, grapheme_extend):
    ranges = []
    for c in range(MAX_CODE_POINT + 1):
        escaped = c != 0x20 and (categories[c] in ESCAPED_CATEGORIES or c in grapheme_extend)
        if not escaped:
            continue
        if ranges and ranges[-1][1] == c - 1:
            ranges[-1][1] = c
        else:
            ranges.append([c, c])
    return ranges


def render(ranges, version):
    # Four entries per line in aligned columns; the table sits between
    # clang-format off/on markers so the layout is the generator's alone.
    entries = [f"{{0x{first:04x}, 0x{last:04x}}}," for first, last in ranges]
    width = max(len(entry) for entry in entries)
    lines = []
    for i in range(0, len(entries), ENTRIES_PER_LINE):
        row = entries[i:i + ENTRIES_PER_LINE]
        lines.append("    " + " ".join(entry.ljust(width) for entry in row).rstrip())
    body = "\n".join(lines)
    text = TEMPLATE.replace("@VERSION@", version).replace("@COUNT@", str(len(ranges)))
    return text.replace("@BODY@", body)


def main():
    root = Path(__file__).resolve().parent.parent
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--ucd-dir", default="/usr/share/unicode",
                        help="folder holding UnicodeData.txt and DerivedCoreProperties.txt")
    parser.add_argument("--output", default=str(root / "src/base/unicode_tables.cpp"))
    args = parser.parse_args()

    ucd = Path(args.ucd_dir)
    categories = read_general_categories(ucd / "UnicodeData.txt")
    grapheme_extend, version = read_property(ucd / "DerivedCoreProperties.txt",
                                             "Grapheme_Extend")
    ranges = escaped_ranges(categories, grapheme_extend)
    Path(args.output).write_text(render(ranges, version), encoding="utf-8")
    print(f"{args.output}: {len(ranges)} ranges, Unicode {version}")


if __name__ == "__main__":
    main()
