#!/usr/bin/env python3
"""Writes a store file of N items (default 1,000) in the Backlog, for the whole-process benchmarks.

The file is as the app leaves it on a computer that has never reached a sync server: every item's record waits
in the sync engine's queue, beside the creation of the zone."""
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
owner = "__defaultOwner__"
state = {
    "pendingDatabaseChanges": [{"kind": "saveZone", "owner": owner, "zone": "Vellora"}],
    "pendingRecordZoneChanges": [{"kind": "saveRecord", "owner": owner, "record": id, "zone": "Vellora"}
                                 for id in items],
    "version": 1,
    "zoneChangeTokens": [],
}
with open(path, "w") as f:
    json.dump({"items": items, "state": state}, f, indent=4, sort_keys=True)
