#!/usr/bin/env python3
"""kxdisasm against binutils' objdump on the code sections of x86-64 DLLs.

    objdump_agreement.py KXDISASM OBJDUMP FOLDER [DLL...]

Both disassemble every code section linearly; objdump starts again at each symbol, kxdisasm
runs straight through. The instruction starts objdump lists must be found by kxdisasm for at
least 99.9% of instructions in every DLL. Prints the share per DLL and the first places where
the two part, so a regression shows where. Exits 77 (skipped) when no DLL is in FOLDER.
"""
import os
import re
import subprocess
import sys

DLLS = ["ntdll.dll", "kernelbase.dll", "user32.dll"]
REQUIRED = 0.999

# objdump: "   180001000:\t48 83 ec 28 \tsub ..." (continuation lines carry no second tab).
OBJDUMP_LINE = re.compile(r"^\s*([0-9a-f]+):\t[0-9a-f ]+\t")
# kxdisasm: "0000000180001000\t4\tsub rsp, +$28"
KXDISASM_LINE = re.compile(r"^([0-9a-f]{8,16})\t(\d+)\t")


def starts(command, pattern):
    out = subprocess.run(command, check=True, capture_output=True, text=True, errors="replace").stdout
    found = set()
    for line in out.splitlines():
        m = pattern.match(line)
        if m:
            found.add(int(m.group(1), 16))
    return found


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    kxdisasm, objdump, folder = sys.argv[1:4]
    names = sys.argv[4:] or DLLS
    dlls = [os.path.join(folder, n) for n in names if os.path.isfile(os.path.join(folder, n))]
    if not dlls:
        print(f"no x86-64 DLL in {folder}: skipped")
        return 77
    failed = False
    for dll in dlls:
        theirs = starts([objdump, "-d", "--insn-width=16", dll], OBJDUMP_LINE)
        ours = starts([kxdisasm, dll], KXDISASM_LINE)
        agree = len(theirs & ours)
        share = agree / len(theirs) if theirs else 0.0
        print(f"{os.path.basename(dll)}: objdump {len(theirs)} instructions, kxdisasm finds {agree} "
              f"of their starts ({share:.4%}), {len(ours - theirs)} starts of its own")
        for address in sorted(theirs - ours)[:5]:
            print(f"  missed start {address:016x}")
        if share < REQUIRED:
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
