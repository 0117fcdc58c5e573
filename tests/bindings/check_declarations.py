"""Compares the declarations of the sixteen functions in every binding with
the public header: names, result type and argument types, reduced to "text"
(const char*) and "int32" (int32_t). Also checks the Windows .def file's
export list.

    check_declarations.py REPO_ROOT

needs TANDRELO_MDNS_LIBRARY (the Python binding loads the library as it
declares its functions); the Node table is read with node, and skipped
without it. Exit 0 when everything agrees.
"""
import ctypes
import json
import os
import re
import shutil
import subprocess
import sys

root = sys.argv[1]


def read(*path):
    with open(os.path.join(root, *path), encoding="utf-8") as f:
        return f.read()


def args_of(text, kinds):
    """'const char* a, int32_t b' -> ["text", "int32"], by the prefix table kinds."""
    text = " ".join(text.split())
    if text in ("", "void"):
        return []
    result = []
    for arg in text.split(","):
        arg = arg.strip()
        kind = next((k for prefix, k in kinds if re.match(prefix, arg)), None)
        result.append(kind or "unknown: " + arg)
    return result


def header():
    found = {}
    for result, name, args in re.findall(
            r"TANDRELO_MDNS_API\s+(const char\*|int32_t)\s+(mdns_\w+)\(([^)]*)\);",
            read("include", "tandrelo_mdns.h")):
        found[name] = ("text" if result == "const char*" else "int32",
                       args_of(args, [(r"const char\*", "text"), (r"int32_t\b", "int32")]))
    return found


def python_binding():
    sys.path.insert(0, os.path.join(root, "python"))
    from tandrelo_mdns._library import PROTOTYPES
    kind = {ctypes.c_char_p: "text", ctypes.c_int32: "int32"}
    return {name: (kind.get(result, "unknown: %r" % result),
                   [kind.get(a, "unknown: %r" % a) for a in args])
            for name, (result, args) in PROTOTYPES.items()}


def csharp_binding():
    source = read("bindings", "csharp", "TandreloMdns.cs")
    found = {}
    for attributes, result, name, args in re.findall(
            r"(\[DllImport\([^\]]*\)\])\s*internal static extern (\S+) (mdns_\w+)\(([^)]*)\);",
            source):
        if "CallingConvention.Cdecl" not in attributes:
            result = "not cdecl"
        # IntPtr, read by Utf8.Read: a string result would be freed by the marshaller.
        found[name] = ({"IntPtr": "text", "int": "int32"}.get(result, "unknown: " + result),
                       args_of(args, [(r"byte\[\] ", "text"), (r"int ", "int32")]))
    if source.count("static extern") != len(found):
        found["(a declaration this check cannot read)"] = ("", [])
    return found


def node_binding():
    script = "console.log(JSON.stringify(require(process.argv[1])))"
    table = json.loads(subprocess.run(
        ["node", "-e", script, os.path.join(root, "bindings", "node", "declarations.js")],
        check=True, capture_output=True, text=True).stdout)
    kind = {"const char *": "text", "int32_t": "int32"}
    return {name: (kind.get(result, "unknown: " + result),
                   [kind.get(a, "unknown: " + a) for a in args]) for name, result, args in table}


def typescript_declarations():
    source = read("bindings", "node", "index.d.ts")
    native = source[source.index("export const native"):]
    found = {}
    for name, args, result in re.findall(r"(mdns_\w+)\(([^)]*)\): (\w+);", native):
        found[name] = ({"string": "text", "number": "int32"}.get(result, "unknown: " + result),
                       args_of(args, [(r"\w+: string \| null$", "text"),
                                      (r"\w+: number$", "int32")]))
    return found


def def_file():
    names = re.findall(r"^\s+(mdns_\w+)\s*$", read("cmake", "tandrelo-mdns.def"), re.M)
    return names


def main():
    expected = header()
    failures = []
    if len(expected) != 16:
        failures.append("the header declares %d functions, not 16" % len(expected))
    for binding, read_binding in (("Python ctypes", python_binding), ("C#", csharp_binding),
                                  ("Node koffi", node_binding),
                                  ("TypeScript", typescript_declarations)):
        if read_binding is node_binding and shutil.which("node") is None:
            print("%s: skipped, node is not installed" % binding)
            continue
        declared = read_binding()
        for name in sorted(set(expected) | set(declared)):
            want, got = expected.get(name), declared.get(name)
            if want != got:
                failures.append("%s: %s is %s, the header says %s" % (binding, name, got, want))
        print("%s: %d functions checked" % (binding, len(declared)))
    if def_file() != list(expected):
        failures.append("cmake/tandrelo-mdns.def exports %s, the header declares %s"
                        % (def_file(), list(expected)))
    print("tandrelo-mdns.def: %d exports checked" % len(def_file()))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


sys.exit(main())
