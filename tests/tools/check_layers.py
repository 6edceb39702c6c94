"""Fails when a folder of src/ includes a header of a folder it may not call.

Each folder may include its own headers and those of the folders listed for it; the
views stand on everything below them.
"""

import os
import re
import sys

MAY_INCLUDE = {
    "platform": set(),
    "xml": {"platform"},
    "picture": {"platform"},
    "host": {"xml", "platform"},
    "gateway": {"host", "picture", "xml", "platform"},
    "form": {"gateway", "host", "picture", "xml", "platform"},
}
MAY_INCLUDE["qt"] = {"form"} | MAY_INCLUDE["form"]
MAY_INCLUDE["win32"] = {"form"} | MAY_INCLUDE["form"]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z0-9_]+)/')


def main(src):
    wrong = []
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path) or folder == "resources":
            continue
        if folder not in MAY_INCLUDE:
            wrong.append("%s/: a folder this check does not know; give it its place" % folder)
            continue
        for name in sorted(os.listdir(path)):
            if not name.endswith((".h", ".cpp")):
                continue
            with open(os.path.join(path, name), encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    match = INCLUDE.match(line)
                    if match and match.group(1) != folder and match.group(1) not in MAY_INCLUDE[folder]:
                        wrong.append("%s/%s:%d includes %s/" % (folder, name, number, match.group(1)))
    for line in wrong:
        print(line)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
