"""Fails when the Windows executable imports a function that is not on the list of those
it may use: every one there exists on Windows 10 (1507) x64, the oldest Windows the
module ships for. A new import is checked against Microsoft's documentation ("Minimum
supported client") before it joins the list; one that came later needs a run-time
fallback (GetProcAddress) instead.

  check_imports.py OBJDUMP MODULE.exe ALLOWED.txt
"""

import subprocess
import sys


def imports(objdump, exe):
    """DLL!function for each import of `exe`, from objdump's import tables."""
    out = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=True).stdout
    table = out.split("The Import Tables", 1)[-1].split("\nThe ", 1)[0]
    found, dll = set(), None
    for line in table.splitlines():
        if "DLL Name:" in line:
            dll = line.split("DLL Name:")[1].strip().upper()
        elif dll and line.startswith("\t") and not line.strip().startswith("vma:"):
            parts = line.split()  # address, hint, name
            if len(parts) == 3:
                found.add("%s!%s" % (dll, parts[2]))
    return found


def main(objdump, exe, allowed_file):
    with open(allowed_file, encoding="utf-8") as f:
        allowed = {line.split("#")[0].strip() for line in f if line.split("#")[0].strip()}
    found = imports(objdump, exe)
    if not found:
        print("no imports read from %s" % exe)
        return 1
    unknown = sorted(found - allowed)
    for name in unknown:
        print("not on the list of imports Windows 10 offers: %s" % name)
    return 1 if unknown else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
