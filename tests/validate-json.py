#!/usr/bin/python3
# validate-json.py SCHEMA FILE...: each file holds exactly one JSON object
# (the host's --json output or --result file) that the schema accepts.
import json
import sys

import jsonschema

schema = json.load(open(sys.argv[1], encoding="utf-8"))
validator = jsonschema.Draft7Validator(schema)
failed = 0
for path in sys.argv[2:]:
    text = open(path, encoding="utf-8").read()
    try:
        errors = [e.message for e in validator.iter_errors(json.loads(text))]
    except ValueError as e:
        errors = ["not one JSON object: %s: %r" % (e, text[:200])]
    for error in errors:
        print("%s: %s" % (path, error))
    failed += bool(errors)
sys.exit(1 if failed else 0)
