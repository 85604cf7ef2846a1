"""Fails when an object file defines or refers to a global or weak symbol from an
anonymous namespace.

GCC gives some instantiations over a file's anonymous-namespace types (a template
taking a pointer to such a type's member, for one) weak external linkage, and every
file's anonymous namespace mangles alike. Two files that each define a type of the
same name then share one copy of the instantiation: the linker keeps whichever it
sees first, and one of the two types is read through the other's layout. The
extensions hide every symbol but their entry point, so the linked module no longer
tells; the objects it is linked from do.

usage: check_anonymous_symbols.py DIR...  (every object file under each DIR; a DIR
without any is an error, so a moved build cannot pass unseen)
"""

import pathlib
import subprocess
import sys

ANONYMOUS = "_GLOBAL__N_"
# nm's symbol kinds with external linkage: the upper-case ones and u, v, w.
EXTERNAL = set("ABCDGIRSTUVW") | set("uvw")


def offending(obj):
    listing = subprocess.run(["nm", "-P", str(obj)], check=True, capture_output=True, text=True).stdout
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) >= 2 and ANONYMOUS in fields[0] and fields[1] in EXTERNAL:
            yield fields[1], fields[0]


def main(dirs):
    if not dirs:
        sys.exit(__doc__)
    found = []
    for d in map(pathlib.Path, dirs):
        objects = sorted(d.rglob("*.o"))
        if not objects:
            sys.exit(f"{d}: no object files")
        for obj in objects:
            found += [f"{obj}: {kind} {name}" for kind, name in offending(obj)]
    if found:
        demangled = subprocess.run(["c++filt"], input="\n".join(found), capture_output=True, text=True).stdout
        sys.exit(f"{len(found)} external symbols from anonymous namespaces (rename the types apart, "
                 f"or move them out of the anonymous namespace):\n{demangled}")
    print(f"no external symbols from anonymous namespaces under {' '.join(dirs)}")


if __name__ == "__main__":
    main(sys.argv[1:])
