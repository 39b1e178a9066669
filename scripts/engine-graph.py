#!/usr/bin/env python3
"""Prints how the files of one layer hang together, as Graphviz text:

  - include edges between the layer's own files (solid), and
  - definition edges: a .cpp that defines members of a class declared in one
    of the layer's headers points at that header (dashed, labelled with the
    class and the number of members it defines there).

A class whose members are defined in many files shows as a fan of dashed
edges into one header; parts with their own files show as small islands.
With --table it prints the definitions as a Markdown table instead.

  python3 scripts/engine-graph.py [--layer src/engine] [--table]
"""
import argparse
import collections
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
CLASS = re.compile(r'^\s*(?:class|struct)\s+(?:\w+\s+)*?(C?[A-Z]\w*)\s*(?:final\s*)?(?::[^;{]*)?\{', re.M)
# "Type Class::Member(" at the start of a line, or "Class::Class(" (ctor/dtor).
DEFINITION = re.compile(r'^[^\s/#][^;{}()]*?\b([A-Z]\w*)::(~?\w+)\s*\(', re.M)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--layer', default='src/engine')
    ap.add_argument('--table', action='store_true')
    args = ap.parse_args()
    root = os.path.dirname(os.path.abspath(args.layer.rstrip('/')))
    layer = os.path.basename(args.layer.rstrip('/'))
    files = sorted(f for f in os.listdir(args.layer) if f.endswith(('.h', '.cpp')))
    text = {f: open(os.path.join(args.layer, f), encoding='utf-8', errors='replace').read() for f in files}

    declared = {}  # class -> header
    for f in files:
        if f.endswith('.h'):
            for cls in CLASS.findall(text[f]):
                declared.setdefault(cls, f)

    includes = []
    for f in files:
        for inc in INCLUDE.findall(text[f]):
            if inc.startswith(layer + '/') and inc[len(layer) + 1:] in text:
                includes.append((f, inc[len(layer) + 1:]))

    defs = collections.defaultdict(collections.Counter)  # (cpp, header) -> class -> members
    for f in files:
        if not f.endswith('.cpp'):
            continue
        for cls, member in DEFINITION.findall(text[f]):
            if cls in declared:
                defs[(f, declared[cls])][cls] += 1

    if args.table:
        print('| file | defines members of | members |')
        print('|---|---|---|')
        for (cpp, header), counts in sorted(defs.items()):
            for cls, n in sorted(counts.items()):
                print(f'| {cpp} | {cls} ({header}) | {n} |')
        per_class = collections.defaultdict(set)
        for (cpp, _), counts in defs.items():
            for cls in counts:
                per_class[cls].add(cpp)
        print()
        print('| class | files defining its members |')
        print('|---|---|')
        for cls, cpps in sorted(per_class.items(), key=lambda kv: (-len(kv[1]), kv[0])):
            print(f'| {cls} | {len(cpps)}: {", ".join(sorted(cpps))} |')
        return 0

    print(f'digraph "{layer}" {{')
    print('  rankdir=LR; node [shape=box, fontname="monospace"];')
    for a, b in includes:
        print(f'  "{a}" -> "{b}";')
    for (cpp, header), counts in sorted(defs.items()):
        label = ', '.join(f'{c} {n}' for c, n in sorted(counts.items()))
        if cpp.rsplit('.', 1)[0] == header.rsplit('.', 1)[0]:
            continue  # a part's own .cpp: no edge worth drawing
        print(f'  "{cpp}" -> "{header}" [style=dashed, label="{label}"];')
    print('}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
