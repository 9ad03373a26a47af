#!/usr/bin/env python3
"""Usage: check-layers.py [--root DIR]

Checks the reporter's layers and the tree's include rules; exits 1 when one is broken.

The crash reporter's folders are layers (crash/README.md): base, analysis, capture, report, output,
ui, delivery and, on top, the shell. A file includes, and a library links, only its own layer and
those below. Outside the reporter: runtime/ includes only itself; hid/ the runtime; the reporter
the runtime; tools/ the reporter and the runtime; app/ anything but tests; tests/ and bench/
anything.

examples/ holds programs written as outside programs are: each folder builds on its own against
the installed package, so its quoted includes name files of its own folder ("Station.h") and
nothing of the tree; the reporter comes in as <kestrelix/Kestrelix.h>.

Every quoted include is written from the root of the tree (#include "crash/base/bytes/ByteReader.h"),
so each one names the file it means; a quoted include that is not a path from the root is an error.

Prints what it counted: the upward includes, the upward link edges, the includes not written from
the root, and each offence.
"""
import os
import re
import subprocess
import sys

LAYERS = ['base', 'analysis', 'capture', 'report', 'output', 'ui', 'delivery', 'shell']
SOURCE_SUFFIXES = ('.h', '.hpp', '.cpp', '.c', '.inc')
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def tree_files(root):
    out = subprocess.run(['git', 'ls-files', '--cached', '--others', '--exclude-standard'], cwd=root,
                         capture_output=True, text=True, check=True).stdout
    return [f for f in out.split('\n') if f]


def level(path):
    """(tree, layer index) of a file; the layer index is None outside the reporter."""
    parts = path.split('/')
    if parts[0] == 'crash' and len(parts) > 2 and parts[1] in LAYERS:
        return 'crash', LAYERS.index(parts[1])
    return parts[0], None


def may_include(src, dst):
    (stree, slayer), (dtree, dlayer) = level(src), level(dst)
    if stree in ('tests', 'bench'):
        return True
    if stree == 'app':
        return dtree not in ('tests', 'bench')
    if stree == 'runtime':
        return dtree == 'runtime'
    if stree == 'hid':
        return dtree in ('hid', 'runtime')
    if stree == 'tools':
        return dtree in ('tools', 'crash', 'runtime')
    if stree == 'crash':
        if dtree == 'runtime':
            return True
        if dtree != 'crash':
            return False
        if slayer is None or dlayer is None:
            return slayer is None
        return dlayer <= slayer
    return True


def check_includes(root, files):
    known = set(files)
    upward, not_rooted = [], []
    for f in files:
        if not f.endswith(SOURCE_SUFFIXES):
            continue
        with open(os.path.join(root, f), encoding='utf-8', errors='replace') as src:
            text = src.read()
        for m in INCLUDE.finditer(text):
            name = m.group(1)
            line = text.count('\n', 0, m.start()) + 1
            if f.startswith('examples/'):
                if '/' in name or os.path.dirname(f) + '/' + name not in known:
                    not_rooted.append(f'{f}:{line}: "{name}" is not a file of the example\'s own folder')
                continue
            if name not in known:
                not_rooted.append(f'{f}:{line}: "{name}" is not a path from the root')
            elif not may_include(f, name):
                upward.append(f'{f}:{line}: includes {name}')
    return upward, not_rooted


def cmake_commands(text, command):
    """The argument lists of every call of command in a CMake file (comments removed)."""
    text = re.sub(r'#[^\n]*', '', text)
    for m in re.finditer(r'\b' + command + r'\s*\(', text):
        depth, i = 1, m.end()
        while depth and i < len(text):
            depth += {'(': 1, ')': -1}.get(text[i], 0)
            i += 1
        yield text[m.end():i - 1].split()


def check_links(root, files):
    """Upward link edges between the reporter's libraries."""
    home, links = {}, []
    for f in files:
        if not (f.startswith('crash/') and f.endswith('CMakeLists.txt')):
            continue
        with open(os.path.join(root, f), encoding='utf-8') as src:
            text = src.read()
        for args in cmake_commands(text, 'add_library'):
            if args:
                home[args[0]] = f
        for args in cmake_commands(text, 'target_link_libraries'):
            if args:
                links += [(args[0], lib, f) for lib in args[1:]]
    upward = []
    for target, lib, f in links:
        if target in home and lib in home:
            _, tl = level(home[target])
            _, ll = level(home[lib])
            if tl is not None and ll is not None and ll > tl:
                upward.append(f'{f}: {target} ({LAYERS[tl]}) links {lib} ({LAYERS[ll]})')
    return upward


def main():
    root = os.path.abspath(os.path.join(os.path.dirname(__file__), '..'))
    if len(sys.argv) == 3 and sys.argv[1] == '--root':
        root = os.path.abspath(sys.argv[2])
    files = [f for f in tree_files(root) if os.path.exists(os.path.join(root, f))]
    upward, not_rooted = check_includes(root, files)
    upward_links = check_links(root, files)
    for line in upward + upward_links + not_rooted:
        print('  ' + line)
    print(f'Layer check: {len(upward)} upward includes, {len(upward_links)} upward link edges, '
          f'{len(not_rooted)} includes not written from the root')
    return 1 if upward or upward_links or not_rooted else 0


if __name__ == '__main__':
    sys.exit(main())
