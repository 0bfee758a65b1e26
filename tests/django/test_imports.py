import subprocess
import sys

import pytest


def run(code):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=False)


def test_importing_mervanta_imports_no_framework():
    done = run("import sys, mervanta; mervanta.dumps({}); print(sorted(m for m in sys.modules if m.split('.')[0] in ('django', 'rest_framework')))")
    assert done.stdout.strip() == "[]", done.stderr


BLOCK = (
    "import sys\n"
    "class Block:\n"
    "    def find_spec(self, name, path=None, target=None):\n"
    "        if name.split('.')[0] == {top!r}: raise ImportError('blocked ' + name)\n"
    "sys.meta_path.insert(0, Block())\n"
    "import {module}\n"
)


@pytest.mark.parametrize(
    "top,module,hint",
    [("django", "mervanta.django", "mervanta[django]"), ("rest_framework", "mervanta.rest_framework", "mervanta[rest]")],
)
def test_clear_import_error_without_the_framework(top, module, hint):
    done = run(BLOCK.format(top=top, module=module))
    assert done.returncode != 0
    assert f"ImportError: {module} needs" in done.stderr and hint in done.stderr
