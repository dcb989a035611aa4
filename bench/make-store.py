#!/usr/bin/env python3
"""Writes a store file of N items (default 1,000) in the Backlog, for the whole-process benchmarks."""
import json
import sys
import uuid

path = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
items = {}
for i in range(count):
    id = str(uuid.uuid4()).upper()
    items[id] = {"id": id, "title": f"Task number {i} with a few words", "done": False,
                 "bucket": "135"[i % 3], "day": "open", "modifiedAt": "2025-03-05T08:01:02Z"}
with open(path, "w") as f:
    json.dump({"items": items}, f, indent=4, sort_keys=True)
