"""Instructions per call, counted by callgrind: independent of machine load,
so before/after comparisons of one change are exact.

    python bench/instructions.py [--runs N] [--docs twitter,citm_catalog,canada]

Each figure is (Ir of N+1 calls - Ir of 1 call) / N, so start-up, import and
the first call's cache fills drop out. Needs valgrind on PATH.
"""

import argparse
import os
import subprocess
import sys
import tempfile
from pathlib import Path

CORPUS = Path(__file__).resolve().parents[1].parent / "shared" / "corpus" / "bench"

CHILD = r"""
import sys, json
lib, op, path, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
raw = open(path, "rb").read()
data = json.loads(raw)
text = raw.decode()
if lib == "mervanta":
    import mervanta as m
    fn = {"dumpb": lambda: m.dumpb(data), "dumps": lambda: m.dumps(data),
          "loads": lambda: m.loads(text), "loads_bytes": lambda: m.loads(raw)}[op]
elif lib == "orjson":
    import orjson
    fn = {"dumpb": lambda: orjson.dumps(data), "dumps": lambda: orjson.dumps(data).decode(),
          "loads": lambda: orjson.loads(text), "loads_bytes": lambda: orjson.loads(raw)}[op]
elif lib == "msgspec":
    import msgspec
    enc, dec = msgspec.json.Encoder(), msgspec.json.Decoder()
    fn = {"dumpb": lambda: enc.encode(data), "dumps": lambda: enc.encode(data).decode(),
          "loads": lambda: dec.decode(text), "loads_bytes": lambda: dec.decode(raw)}[op]
fn()
for _ in range(count):
    fn()
"""


def total_ir(python, lib, op, path, count):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cg.out")
        subprocess.run(
            ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", python, "-c", CHILD, lib, op, str(path), str(count)],
            check=True, capture_output=True,
        )
        for line in open(out):
            if line.startswith("summary:") or line.startswith("totals:"):
                return int(line.split()[1])
    raise RuntimeError("no total in callgrind output")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--docs", default="twitter,citm_catalog,canada")
    parser.add_argument("--ops", default="dumpb,loads")
    parser.add_argument("--libs", default="mervanta,orjson,msgspec")
    parser.add_argument("--python", default=sys.executable)
    args = parser.parse_args()
    print(f"{'doc':14} {'op':12} " + " ".join(f"{lib:>10}" for lib in args.libs.split(",")) + "   (M Ir per call)")
    for doc in args.docs.split(","):
        path = CORPUS / f"{doc}.json"
        for op in args.ops.split(","):
            cells = []
            for lib in args.libs.split(","):
                try:
                    one = total_ir(args.python, lib, op, path, 0)
                    many = total_ir(args.python, lib, op, path, args.runs)
                    cells.append(f"{(many - one) / args.runs / 1e6:10.2f}")
                except (subprocess.CalledProcessError, ModuleNotFoundError):
                    cells.append(f"{'-':>10}")
            print(f"{doc:14} {op:12} " + " ".join(cells), flush=True)


if __name__ == "__main__":
    main()
