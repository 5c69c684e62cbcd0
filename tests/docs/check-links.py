#!/usr/bin/env python3
"""Checks the links of README.md and docs/*.md: every relative link and image
names a file or folder that exists, every #anchor a heading of its page, and
README links every page of docs/. Prints each fault; exits 1 if there is one.

  tests/docs/check-links.py [REPO_ROOT]"""
import pathlib, re, sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else '.').resolve()
pages = [root / 'README.md'] + sorted((root / 'docs').glob('*.md'))
faults = []

def anchors(page):  # GitHub's heading ids: lower case, no punctuation, - for blanks
    return {re.sub(r'[^\w\- ]', '', h.strip().lower()).replace(' ', '-')
            for h in re.findall(r'^#+ (.*)$', page.read_text(), re.M)}

for page in pages:
    text = re.sub(r'```.*?```', '', page.read_text(), flags=re.S)
    text = re.sub(r'`[^`\n]*`', '', text)  # [`name`](target) keeps its target
    for target in re.findall(r'\]\(([^)\s]+)\)', text):
        if re.match(r'[a-z]+:', target):
            continue
        path, _, anchor = target.partition('#')
        dest = (page.parent / path).resolve() if path else page
        if not dest.exists():
            faults.append(f'{page.relative_to(root)}: {target}: no such file')
        elif anchor and dest.suffix == '.md' and anchor not in anchors(dest):
            faults.append(f'{page.relative_to(root)}: {target}: no such heading')

linked = set(re.findall(r'\]\(docs/([^)#\s]+)', (root / 'README.md').read_text()))
for page in pages[1:]:
    if page.name not in linked:
        faults.append(f'README.md does not link docs/{page.name}')

print('\n'.join(faults) or f'links: {len(pages)} pages, all resolve')
sys.exit(1 if faults else 0)
