"""Memory of a decoded document (mervanta, json, orjson) and the peak of
dumpb, measured with tracemalloc.

Run by hand:  python bench/bench_memory.py [corpus directory]
"""

import json
import subprocess
import sys
import tracemalloc
from pathlib import Path

import mervanta

try:
    import orjson
except ImportError:
    orjson = None

CORPUS = Path(sys.argv[1] if len(sys.argv) > 1 else "/work/shared/corpus/bench")


def held_and_peak(function, *args):
    """Bytes still held by the result, and the peak during the call."""
    tracemalloc.start()
    result = function(*args)
    held, peak = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    return result, held, peak


def main():
    loaders = {"mervanta.loads": mervanta.loads, "json.loads": json.loads}
    if orjson is not None:
        loaders["orjson.loads"] = orjson.loads
    print("Decoded size (memory held by the result, MB):")
    for name in ("twitter", "citm_catalog", "canada"):
        text = (CORPUS / f"{name}.json").read_bytes()
        held = {label: held_and_peak(load, text)[1] / 1e6 for label, load in loaders.items()}
        print(f"  {name + '.json':<18} " + "  ".join(f"{label} {mb:6.2f}" for label, mb in held.items()))
    # dumpb's buffer lives on the C heap, which tracemalloc does not see:
    # the peak is read from the process (VmHWM) in a fresh child.
    print("Peak memory added by dumpb (child process, VmHWM):")
    for name in ("twitter", "canada"):
        out = subprocess.run([sys.executable, "-c", DUMPB_CHILD, str(CORPUS / f"{name}.json")],
                             check=True, capture_output=True, text=True)
        size, added = (int(field) for field in out.stdout.split())
        print(f"  {name + '.json'} x 40: output {size / 1e6:6.1f} MB, peak grows by {added / 1e6:6.1f} MB "
              f"({added / size:.2f}x the output)")


DUMPB_CHILD = r"""
import json, sys
import mervanta

def status(key):
    with open("/proc/self/status") as lines:
        return int(next(line.split()[1] for line in lines if line.startswith(key))) * 1024

document = [json.loads(open(sys.argv[1], "rb").read())] * 40
mervanta.dumpb(document[:1])
before = status("VmHWM:")
output = mervanta.dumpb(document)
print(len(output), status("VmHWM:") - before)
"""


if __name__ == "__main__":
    main()
