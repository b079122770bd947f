#!/usr/bin/env python3
"""Which product folder stands on which, read from the #include lines and the CMake links.

    tools/folder_graph.py [ROOT]          prints one line per folder with the folders it uses
    tools/folder_graph.py --check [ROOT]  exits 1, naming each line, when a product or test
                                          file includes or links a folder it may not use

A folder may use the folders written for it in STANDS_ON, and only those: every arrow points
down, so no library waits on one above it or beside it. A test folder may use what its product
folder may use, plus the test-only edges of TEST_STANDS_ON, plus tests/support; a test folder
may include another test folder's helpers when it may use that folder's product.
"""

import pathlib
import re
import sys

# The layers, each with the folders below it that it may use.
STANDS_ON = {
    "core": [],
    "platform": ["core"],
    "patcher": ["core", "platform"],
    "window": ["core", "platform"],
    "gamecfg": ["core", "platform"],
    "launcher": ["core", "platform", "patcher", "window", "gamecfg"],
    "publisher": ["core", "platform"],
    "swapper": [],
}

# Test folders that are not named after a product folder, as the product they test.
TEST_FOLDER_PRODUCT = {
    "native": "publisher",   # the native publisher and core tables
    "scaled": "launcher",    # the launcher on a scaled display
    "resources": "platform",  # reads the programs' resources back
    "support": "platform",   # the shared test helpers and the test patch server
}

# Edges only a test may take: the publisher's round trip ends in the engine that reads what
# it wrote, and the helper's tests hold files open through the platform layer's handle owner.
TEST_STANDS_ON = {
    "publisher": ["patcher"],
    "swapper": ["platform"],
}

LIBRARY_FOLDER = {"korvel_" + folder: folder for folder in STANDS_ON}
INCLUDE = re.compile(r'^\s*#\s*include\s+"(tests/)?([a-z_]+)/')
LINK = re.compile(r"\bkorvel_[a-z]+\b")


def sources(folder):
    return sorted(p for p in folder.rglob("*") if p.suffix in (".cpp", ".h") and p.is_file())


def allowed_for(product, in_tests):
    allowed = {product, *STANDS_ON.get(product, [])}
    if in_tests:
        allowed |= set(TEST_STANDS_ON.get(product, []))
    return allowed


def folders_of(root):
    """(folder path, product it counts as, whether it is a test folder) for every checked folder."""
    for name in STANDS_ON:
        if (root / name).is_dir():
            yield root / name, name, False
    tests = root / "tests"
    if tests.is_dir():
        for folder in sorted(p for p in tests.iterdir() if p.is_dir()):
            product = TEST_FOLDER_PRODUCT.get(folder.name, folder.name)
            if product in STANDS_ON:
                yield folder, product, True


def uses(path):
    """(line number, used folder, whether it is a test helper folder) of every project include."""
    for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
        match = INCLUDE.match(line)
        if match:
            yield number, match.group(2), bool(match.group(1))


def check(root):
    faults = []
    for folder, product, in_tests in folders_of(root):
        allowed = allowed_for(product, in_tests)
        for path in sources(folder):
            for number, used, test_helper in uses(path):
                if test_helper and not in_tests:
                    faults.append(f"{path.relative_to(root)}:{number}: product code may not include tests/")
                    continue
                if test_helper:
                    used = TEST_FOLDER_PRODUCT.get(used, used)
                    if used == "platform" and in_tests:  # tests/support: every test's helpers
                        continue
                if used in STANDS_ON and used not in allowed:
                    faults.append(f"{path.relative_to(root)}:{number}: {product}/ may not include {used}/")
        cmake = folder / "CMakeLists.txt"
        if cmake.is_file():
            for number, line in enumerate(cmake.read_text(encoding="utf-8").splitlines(), 1):
                code = line.split("#", 1)[0]
                for library in LINK.findall(code):
                    used = LIBRARY_FOLDER.get(library)
                    if used and used not in allowed:
                        faults.append(f"{cmake.relative_to(root)}:{number}: {product}/ may not link {library}")
    return faults


def print_graph(root):
    for name in STANDS_ON:
        used = set()
        for path in sources(root / name):
            used |= {folder for _, folder, test in uses(path) if not test and folder in STANDS_ON}
        used.discard(name)
        listed = " ".join(sorted(used)) or "(nothing)"
        print(f"{name + '/':<10} -> {listed}")


def main(argv):
    checking = "--check" in argv
    rest = [a for a in argv if a != "--check"]
    root = pathlib.Path(rest[0] if rest else pathlib.Path(__file__).resolve().parent.parent)
    if not checking:
        print_graph(root)
        return 0
    faults = check(root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) or link(s) against the folder graph (tools/folder_graph.py)")
        return 1
    print("every include and link follows the folder graph")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
