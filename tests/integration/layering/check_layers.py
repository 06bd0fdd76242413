"""The library's layers run one way: a file may include only headers of its
own layer or of the layers beneath it.

    toolkit (1) -> io, plate (2) -> engine (3) -> rating (4) -> api (5) -> legacy (6)

io and plate stand side by side and do not include each other. The public
C++ headers (include/zalk) belong to the api layer and include nothing of
src/; the legacy C header (include/zalk3071) includes only its own folder.
The applications (apps/) include only the public headers (include/zalk) and
their own. zalk3071/block_layout.h (plain byte offsets of the legacy blocks), the
generated zalk/version.h, zalk/rating_model.hpp (the constants of the
structure every rating analyses) and zalk/units.hpp (the unit conversions)
may be included anywhere.

Usage: check_layers.py SOURCE_DIR   (exit status 1 and one line per upward
include when the layering is broken)
"""
import pathlib
import re
import sys

RANK = {"toolkit": 1, "io": 2, "plate": 2, "engine": 3, "rating": 4, "api": 5, "legacy": 6}
ANYWHERE = {"zalk3071/block_layout.h", "zalk/version.h", "zalk/rating_model.hpp", "zalk/units.hpp"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of_include(path):
    """The layer an include names, or None for a same-folder include."""
    if path in ANYWHERE:
        return None
    head = path.split("/", 1)[0]
    if head == "zalk":
        return "api"
    if head == "zalk3071":
        return "legacy"
    if head in RANK:
        return head
    return None


def allowed(own, other):
    if own == other:
        return True
    return RANK[other] < RANK[own]


def problems(root):
    found = []
    for layer in RANK:
        for f in sorted((root / "src" / layer).rglob("*")):
            if f.suffix not in (".h", ".hpp", ".cpp", ".c"):
                continue
            for n, line in enumerate(f.read_text(errors="replace").splitlines(), 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                other = layer_of_include(m.group(1))
                if other is not None and not allowed(layer, other):
                    found.append(f"{f.relative_to(root)}:{n}: the {layer} layer includes "
                                 f"\"{m.group(1)}\" of the {other} layer above it")
    for folder, own in (("zalk", "zalk/"), ("zalk3071", None)):
        for f in sorted((root / "include" / folder).rglob("*")):
            if not f.is_file():
                continue
            for n, line in enumerate(f.read_text(errors="replace").splitlines(), 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                inc = m.group(1)
                ok = inc in ANYWHERE or (own and inc.startswith(own)) or (own is None and "/" not in inc)
                if not ok:
                    found.append(f"{f.relative_to(root)}:{n}: a public header includes \"{inc}\" "
                                 "from outside its own folder")
    # The applications stand on the public API alone.
    for f in sorted((root / "apps").rglob("*")):
        if f.suffix not in (".h", ".hpp", ".cpp", ".c"):
            continue
        for n, line in enumerate(f.read_text(errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if m and not (m.group(1).startswith("zalk/") or m.group(1).startswith("apps/")):
                found.append(f"{f.relative_to(root)}:{n}: an application includes \"{m.group(1)}\", "
                             "which is not a public header")
    return found


if __name__ == "__main__":
    root = pathlib.Path(sys.argv[1])
    bad = problems(root)
    for b in bad:
        print(b)
    print(f"{len(bad)} upward includes" if bad else "layers run one way")
    sys.exit(1 if bad else 0)
