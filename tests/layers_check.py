"""Counts the includes between the top-level folders of Component/ and fails on a cycle, or on
an include from the engine (base, binding, crypto, text, codesign) into a folder with COM code."""
import collections
import pathlib
import re
import sys

ENGINE = {'base', 'binding', 'crypto', 'text', 'codesign'}
COM_FOLDERS = {'com', 'blobs', 'control', 'module'}


def main(component):
    root = pathlib.Path(component)
    edges = collections.Counter()
    for source in root.rglob('*'):
        if source.suffix not in ('.h', '.cpp'):
            continue
        folder = source.relative_to(root).parts[0]
        for target in re.findall(r'^\s*#\s*include\s+"(?:\.\./)*([a-z_]+)/', source.read_text(errors='replace'), re.M):
            if target != folder and (root / target).is_dir():
                edges[folder, target] += 1
    for (a, b), n in sorted(edges.items()):
        print(f'{a} -> {b}: {n}')
    graph = collections.defaultdict(set)
    for a, b in edges:
        graph[a].add(b)
    failures = [f'{a} -> {b} (engine into COM code)' for a, b in edges if a in ENGINE and b in COM_FOLDERS]
    state = {}

    def visit(node, path):
        state[node] = 'open'
        for nxt in sorted(graph[node]):
            if state.get(nxt) == 'open':
                failures.append('cycle: ' + ' -> '.join(path[path.index(nxt):] + [nxt]))
            elif nxt not in state:
                visit(nxt, path + [nxt])
        state[node] = 'done'

    for node in sorted(graph):
        if node not in state:
            visit(node, [node])
    for failure in failures:
        print('FAIL', failure)
    print('layers: no cycle' if not failures else f'layers: {len(failures)} violations')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
