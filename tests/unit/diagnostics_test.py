#!/usr/bin/env python3
"""Every message text of the program's sources must appear in the DIAGNOSTICS section of
docs/man/zarn.1, a printf conversion standing for one word: a new message cannot go undocumented.
    diagnostics_test.py SOURCE_DIR"""
import ast
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
STRING = r'"(?:[^"\\\n]|\\.)*"'
RUN = rf"((?:{STRING}\s*)+)"
CALL = re.compile(rf"\b(?:writeOut|printOut|printErr|reportSystemError|printTo)\(\s*(?:\w+,\s*)?{RUN}")
CONVERSION = re.compile(r"%[-+ #0]*(?:\*|\d+)?(?:\.(?:\*|\d+))?(?:hh|h|ll|l|L|j|z|t)?[diouxXcsp]")


def text(run):
    return "".join(ast.literal_eval(piece) for piece in re.findall(STRING, run))


messages = set()
for source in sorted(p for d in ("base", "agent", "link", "cli") for p in (root / d).glob("*.[ch]*")):
    code = re.sub(rf"({STRING}|'(?:[^'\\\n]|\\.)*')|//[^\n]*|/\*.*?\*/",
                  lambda m: m[1] or " ", source.read_text(), flags=re.S)
    found = [text(run) for run in CALL.findall(code)]  # handed to an output function
    found += [t for t in map(text, re.findall(RUN, code))  # or worded as a message
              if "<error>" in t or re.match(r"[A-Z][A-Za-z_]*: ", t)]
    found += [text(run) for run in re.findall(rf"(?:kExamples =|put\()\s*{RUN}", code)]  # the usage
    messages.update(line for t in found for line in t.split("\n")
                    if re.search("[A-Za-z]", CONVERSION.sub("", line)))

roff = (root / "docs" / "man" / "zarn.1").read_text().partition("\n.SH DIAGNOSTICS\n")[2].split("\n.SH ")[0]
section = re.sub(r"\\f[BIRP]|\\[%&c]", "", roff)
for escape, char in (("\\-", "-"), ("\\(aq", "'"), ("\\(lq", '"'), ("\\(rq", '"'), ("\\e", "\\")):
    section = section.replace(escape, char)
missing = [m for m in sorted(messages)
           if not re.search(r"\S+".join(map(re.escape, CONVERSION.split(m.strip()))), section)]
for message in missing:
    print(f"not in zarn(1) DIAGNOSTICS: {message!r}")
print(f"{len(messages) - len(missing)} of {len(messages)} message lines documented")
sys.exit(1 if missing or not section else 0)
