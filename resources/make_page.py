#!/usr/bin/env python3
"""Writes clipindex.htm, the page as the executable carries it (code page 936, CR LF line ends, nothing
after the closing tag), from its readable UTF-8 source clipindex.utf8.htm beside it.

usage: make_page.py          write clipindex.htm
       make_page.py --check  write nothing; exit 1 if clipindex.htm differs from what would be written
"""
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
SOURCE = HERE / "clipindex.utf8.htm"
PAGE = HERE / "clipindex.htm"


def page_bytes():
    text = SOURCE.read_text(encoding="utf-8")
    if text.startswith("\ufeff") or "\r" in text:
        sys.exit(f"{SOURCE}: write it without a byte-order mark and with LF line ends")
    # Editors end the source with a line end; the page itself ends right after "</script>".
    if text.endswith("\n"):
        text = text[:-1]
    # Strict: a character outside code page 936 stops the build instead of turning into "?".
    return text.replace("\n", "\r\n").encode("gbk")


def main():
    wanted = page_bytes()
    if sys.argv[1:] == ["--check"]:
        current = PAGE.read_bytes() if PAGE.exists() else b""
        if current != wanted:
            print(f"FAIL: {PAGE} is not what make_page.py makes from {SOURCE.name}; run resources/make_page.py")
            return 1
        print(f"{PAGE.name} matches {SOURCE.name} ({len(wanted)} bytes)")
        return 0
    PAGE.write_bytes(wanted)
    print(f"wrote {PAGE} ({len(wanted)} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
