#!/usr/bin/env python3
"""Every tracked C++ source is named in the CMakeLists.txt of its directory
(or of a directory above it), and every directory with a CMakeLists.txt is
added by its parent: the build lists its sources explicitly, so a file or
suite that nobody added would silently never be compiled or run.
Exits 1 and names what is missing."""
import os
import re
import subprocess
import sys

os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
tracked = subprocess.check_output(['git', 'ls-files']).decode().split('\n')
lists = {os.path.dirname(f): open(f).read() for f in tracked
         if os.path.basename(f) == 'CMakeLists.txt'}
missing = []

for f in tracked:
    if not f.endswith('.cpp'):
        continue
    directory, name = os.path.split(f)
    # Named in its own directory's list, or with its relative path above.
    d, rel = directory, name
    while True:
        text = lists.get(d)
        if text is not None and re.search(r'(^|[\s/{}])' + re.escape(rel) + r'(\s|\)|$)', text, re.M):
            break
        if not d:
            missing.append(f)
            break
        d, last = os.path.split(d)
        rel = last + '/' + rel

for d in lists:
    if not d:
        continue
    parent, name = os.path.split(d)
    text = lists.get(parent, '')
    if not re.search(r'add_subdirectory\((\$\{dir\}|' + re.escape(name) + r')\)', text) and \
       not re.search(r'(^|\s)' + re.escape(d) + r'(\s|\)|$)', lists.get('', ''), re.M):
        missing.append(d + '/ (not added by ' + (parent or '.') + '/CMakeLists.txt)')

for m in missing:
    print('not in the build: ' + m)
sys.exit(1 if missing else 0)
