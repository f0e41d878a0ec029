#!/usr/bin/env python3
"""Checks the page file as the executable carries it and the browser reads it.

usage: check_page_file.py PAGE

The file: valid code page 936 (GBK), CR LF line ends only, no byte-order mark, "<script>" first and
"</script>" last with no line end after it, exactly one script element, no character-set declaration.
The script: old JavaScript that reaches only what the browser hands a menu page (external.menuArguments,
the document's applets, getAttribute, the nodes' first child, next sibling and name, the body's
style.background and innerHTML) and plain string methods.
"""
import re
import sys

# Every name the script may use: the language's old keywords, the host objects and members above, and
# string, array and regular-expression methods that every old engine has; then the script's own names.
KEYWORDS = {"var", "function", "return", "for", "if", "else", "null", "true", "false", "new"}
HOST = {"external", "menuArguments", "document", "applets", "length", "getAttribute", "firstChild", "nextSibling",
        "nodeName", "body", "style", "background", "innerHTML"}
BUILTINS = {"substring", "lastIndexOf", "indexOf", "charAt", "toLowerCase", "split", "join", "replace", "RegExp",
            "String"}


def code_without_comments_and_strings(script):
    """The script with comments removed and each string literal replaced by an empty one."""
    out, i = [], 0
    while i < len(script):
        if script.startswith("/*", i):
            i = script.index("*/", i + 2) + 2
        elif script.startswith("//", i):
            i = script.find("\n", i)
            i = len(script) if i < 0 else i
        elif script[i] in "\"'":
            quote, i = script[i], i + 1
            while script[i] != quote:
                if script[i] in "\r\n":
                    raise ValueError(f"unterminated string before {script[i - 20:i]!r}")
                i += 2 if script[i] == "\\" else 1
            out.append('""')
            i += 1
        else:
            out.append(script[i])
            i += 1
    return "".join(out)


def check_bytes(data):
    failures = []
    if data.startswith((b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff")):
        failures.append("starts with a byte-order mark")
    if not data.startswith(b"<script>"):
        failures.append(f"does not begin with <script>: {data[:20]!r}")
    if not data.endswith(b"</script>"):
        failures.append(f"does not end with </script> (nothing after it): {data[-20:]!r}")
    lone = [m.start() for m in re.finditer(rb"\r(?!\n)|(?<!\r)\n", data)]
    if lone:
        failures.append(f"{len(lone)} line ends that are not CR LF, first at byte {lone[0]}")
    try:
        text = data.decode("gbk")
    except UnicodeDecodeError as error:
        return failures + [f"not valid code page 936: {error}"]
    opening = len(re.findall(r"<script\b", text, re.I))
    closing = len(re.findall(r"</script\s*>", text, re.I))
    if (opening, closing) != (1, 1):
        failures.append(f"want exactly one script element, got {opening} openings and {closing} closings")
    if re.search(r"charset|<meta\b", text, re.I):
        failures.append("declares a character set; the browser must read it in the system's code page")
    return failures


def check_script(text):
    script = text[len("<script>"):-len("</script>")]
    try:
        code = code_without_comments_and_strings(script)
    except ValueError as error:
        return [str(error)]
    failures = []
    for token in ("=>", "`", "...", ",]", ",}", "/"):
        if token in re.sub(r"\s", "", code):
            failures.append(f"uses {token!r}, which old script engines reject or this check cannot read")
    declared = set(re.findall(r"\b(?:var|function)\s+([A-Za-z_$][\w$]*)", code))
    for params in re.findall(r"\bfunction\b[\w$\s]*\(([^)]*)\)", code):
        declared |= {p.strip() for p in params.split(",") if p.strip()}
    allowed = KEYWORDS | HOST | BUILTINS | declared
    unknown = sorted(set(re.findall(r"[A-Za-z_$][\w$]*", code)) - allowed)
    if unknown:
        failures.append(f"uses names outside what the page may rely on: {', '.join(unknown)}")
    return failures


def main():
    path = sys.argv[1]
    with open(path, "rb") as page:
        data = page.read()
    failures = check_bytes(data)
    if not failures:
        failures = check_script(data.decode("gbk"))
    for failure in failures:
        print(f"FAIL: {path}: {failure}")
    if not failures:
        print(f"{path}: {len(data)} bytes of code page 936, CR LF, one script element of old JavaScript")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
