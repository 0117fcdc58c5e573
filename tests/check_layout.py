"""The layout rules of the source tree, checked from its include lines.

- Operating-system headers are included only under src/platform/.
- The state under everything (core/state.*, core/text.*) includes nothing
  from responder/, browse/ or net/.
- Packet bytes are read and written only in src/dns/: the byte cursors of
  dns/wire.h are used nowhere else.
- No two modules (a header with its source file) include each other,
  directly or through others.

usage: check_layout.py SOURCE_ROOT
"""
import os
import re
import sys

root = os.path.join(sys.argv[1], "src")
OS_HEADERS = re.compile(r"#include <(sys/|arpa/|netinet/|net/|ifaddrs|unistd|pthread|winsock|ws2|windows|iphlpapi|errno)")
LOCAL = re.compile(r'#include "([^"]+)"')
failures = []
files = {}
for folder, _, names in os.walk(root):
    for name in names:
        if name.endswith((".cpp", ".h")):
            path = os.path.join(folder, name)
            files[os.path.relpath(path, root)] = open(path, encoding="utf-8").read()

for path, text in files.items():
    in_platform = path.startswith("platform" + os.sep)
    if not in_platform and OS_HEADERS.search(text):
        failures.append("%s includes an operating-system header" % path)
    if path.startswith(os.path.join("core", "state")) or path.startswith(os.path.join("core", "text")):
        for included in LOCAL.findall(text):
            if included.split("/")[0] in ("responder", "browse", "net"):
                failures.append("%s includes %s" % (path, included))
    if not path.startswith("dns" + os.sep) and re.search(r"\bwire_(get|put|be16_at|patch)", text):
        failures.append("%s reads or writes packet bytes itself" % path)


def module(path):
    return os.path.splitext(path)[0]


graph = {}
for path, text in files.items():
    deps = graph.setdefault(module(path), set())
    for included in LOCAL.findall(text):
        if included.endswith(".h") and module(included) != module(path):
            deps.add(module(included.replace("/", os.sep)))

state = {}


def visit(node, trail):
    if state.get(node) == "done":
        return
    if state.get(node) == "open":
        failures.append("modules include each other: " + " -> ".join(trail[trail.index(node):] + [node]))
        return
    state[node] = "open"
    for dep in sorted(graph.get(node, ())):
        visit(dep, trail + [node])
    state[node] = "done"


for node in sorted(graph):
    visit(node, [])

for f in failures:
    print("FAIL:", f)
print("%d files checked, %d failures" % (len(files), len(failures)))
sys.exit(1 if failures else 0)
