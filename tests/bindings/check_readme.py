"""Checks that the README's quick starts are the example programs that
scripts/test-bindings.sh runs: every block that follows a line
"<!-- quick start: PATH -->" must equal the file PATH, and each of the
files below must have such a block.

    check_readme.py REPO_ROOT
"""
import os
import re
import sys

root = sys.argv[1]
QUICK_STARTS = ["examples/python/quickstart.py", "examples/node/quickstart.js",
                "examples/csharp/QuickStart.cs"]

with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
    readme = f.read()
blocks = dict(re.findall(r"<!-- quick start: (\S+) -->\n```\w*\n(.*?)```\n", readme, re.S))
failures = []
for path in QUICK_STARTS:
    with open(os.path.join(root, path), encoding="utf-8") as f:
        source = f.read()
    if path not in blocks:
        failures.append("README.md has no quick start from %s" % path)
    elif blocks[path] != source:
        failures.append("README.md's quick start differs from %s" % path)
for path in sorted(set(blocks) - set(QUICK_STARTS)):
    failures.append("README.md names %s, which no test runs" % path)
for failure in failures:
    print("FAIL:", failure)
print("README quick starts: %d checked" % len(QUICK_STARTS))
sys.exit(1 if failures else 0)
