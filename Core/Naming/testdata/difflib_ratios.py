# Reads a JSON list of [a, b] text pairs and prints the list of
# difflib.SequenceMatcher(None, a, b).ratio() values, the reference the
# similarity tests compare against.
import difflib
import json
import sys

with open(sys.argv[1], encoding="utf-8") as f:
    pairs = json.load(f)
print(json.dumps([difflib.SequenceMatcher(None, a, b).ratio() for a, b in pairs]))
