"""Modules that the encoder imports at run time, replaced or blocked in sys.modules."""

from __future__ import annotations

import json
import subprocess
import sys

# --- modules replaced or blocked in sys.modules ---------------------------------------------------

MODULES_CHILD = r"""
import dataclasses, datetime, enum, json, sys, uuid
import mervanta

class Colour(enum.Enum):
    RED = 1

@dataclasses.dataclass
class Point:
    x: int

values = [Colour.RED, Point(1), datetime.date(2020, 1, 2), datetime.datetime(2020, 1, 2, 3, 4, 5),
          uuid.UUID(int=5), datetime.timedelta(1)]

def outcomes():
    result = []
    for value in values:
        try:
            result.append(mervanta.dumps(value))
        except BaseException as error:
            result.append(type(error).__name__)
    return result

saved = dict(sys.modules)
report = {"normal": outcomes()}
for name, replacement in [("enum", None), ("enum", 5), ("dataclasses", None), ("datetime", None), ("uuid", None),
                          ("datetime", type(sys)("datetime")), ("django.utils.functional", 5),
                          ("django.db.models", None)]:
    sys.modules[name] = replacement
    report[f"{name}={type(replacement).__name__}"] = outcomes()
    sys.modules.clear()
    sys.modules.update(saved)
report["restored"] = outcomes()
print(json.dumps(report))
"""


def test_modules_replaced_or_blocked_in_sys_modules():
    # A module that cannot be imported only turns its test into "no match";
    # after a match (a dataclass) the failed import is final. Values of the
    # standard classes are written the same when their module is hidden.
    result = subprocess.run([sys.executable, "-c", MODULES_CHILD], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr[-2000:]
    report = json.loads(result.stdout)
    normal = ["1", '{"x": 1}', '"2020-01-02"', '"2020-01-02T03:04:05"', '"00000000-0000-0000-0000-000000000005"',
              '"P1D"']
    assert report.pop("normal") == normal
    assert report.pop("restored") == normal
    assert report.pop("enum=NoneType") == ["TypeError"] + normal[1:]
    assert report.pop("enum=int") == ["TypeError"] + normal[1:]
    assert report.pop("dataclasses=NoneType") == normal[:1] + ["ModuleNotFoundError"] + normal[2:]
    assert report == {name: normal for name in report}
