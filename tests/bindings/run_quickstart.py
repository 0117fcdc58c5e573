"""Runs a binding's quick start (the program that the README shows) against
a python3-zeroconf peer that registers once the quick start has said it is
browsing, and checks what it prints.

    run_quickstart.py PEER_PYTHON PEER_SCRIPT REGEX -- COMMAND [ARG...]

The quick start must print a line matching REGEX (the peer's service, port
8127 on host qspeer.local), the refused start's function, code and message,
and exit 0 within 30 s. Run it inside a network namespace.
"""
import re
import subprocess
import sys
import threading

peer_python, peer_script, pattern = sys.argv[1:4]
command = sys.argv[sys.argv.index("--") + 1:]

program = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
first = program.stdout.readline()
lines = [first]
peer = None
failures = []
if not first.startswith("announcing kitchen.local"):
    failures.append("the quick start did not start: %r" % first)
else:
    peer = subprocess.Popen([peer_python, peer_script, "Quick Peer", "_tandrelo-qs._tcp", "8127",
                             "qspeer", "127.0.0.1", "k=v"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    registered = peer.stdout.readline().strip()
    if registered != "registered":
        failures.append("the peer did not register: %r" % registered)

reader = threading.Thread(target=lambda: lines.extend(program.stdout))
reader.start()
try:
    status = program.wait(timeout=30)
except subprocess.TimeoutExpired:
    program.kill()
    status = "killed after 30 s"
reader.join()
if peer is not None:
    peer.stdin.close()
    peer.wait(timeout=20)

output = "".join(lines)
if status != 0:
    failures.append("exit status %s" % status)
if not re.search(pattern, output):
    failures.append("no line matches %r" % pattern)
if "mdns_start -1 Invalid port specified" not in output:
    failures.append("the refused start is not reported")
print(output, end="")
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
