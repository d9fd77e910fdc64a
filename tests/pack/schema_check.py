#!/usr/bin/env python3
# pelto-pack's JSON Schema is a valid schema, the examples validate against it, a typo does not.
import json, subprocess, sys, tomllib
import jsonschema

pack, examples = sys.argv[1], sys.argv[2]
schema = json.loads(subprocess.run([pack, "schema"], check=True, capture_output=True, text=True).stdout)
jsonschema.Draft7Validator.check_schema(schema)
for name in ("hello-service.toml", "every-key.toml"):
    with open(f"{examples}/{name}", "rb") as f:
        jsonschema.validate(tomllib.load(f), schema)
if jsonschema.Draft7Validator(schema).is_valid({"service": {"nmae": "x"}}):
    sys.exit("the schema accepts an unknown key")
