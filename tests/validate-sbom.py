#!/usr/bin/python3
"""Validates an SBOM against CycloneDX's published JSON schema 1.6, kept in
tests/data/cyclonedx (its README names the source). The schema's references
to spdx.schema.json and jsf-0.82.schema.json resolve to the copies beside it,
never to the network.

Usage: validate-sbom.py SBOM.json"""
import json
import pathlib
import sys

import jsonschema

schemas = pathlib.Path(__file__).resolve().parent / "data" / "cyclonedx"
store = {}
for path in schemas.glob("*.schema.json"):
    document = json.loads(path.read_text(encoding="utf-8"))
    store[document["$id"]] = document
bom_schema = store["http://cyclonedx.org/schema/bom-1.6.schema.json"]
resolver = jsonschema.RefResolver.from_schema(bom_schema, store=store)
validator = jsonschema.Draft7Validator(bom_schema, resolver=resolver,
                                       format_checker=jsonschema.FormatChecker())
try:
    bom = json.loads(pathlib.Path(sys.argv[1]).read_text(encoding="utf-8"))
except (IndexError, OSError, ValueError) as error:
    sys.exit(f"validate-sbom: cannot read the SBOM: {error}")
errors = sorted(validator.iter_errors(bom), key=lambda e: list(e.absolute_path))
for error in errors:
    print(f"{sys.argv[1]}: {'/'.join(map(str, error.absolute_path)) or '(root)'}: {error.message}")
if errors:
    sys.exit(1)
print(f"{sys.argv[1]}: valid CycloneDX {bom['specVersion']}")
