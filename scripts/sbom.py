#!/usr/bin/python3
"""Writes the release's SBOM, CycloneDX 1.6 JSON, to standard output.

The root component is the product; its components are the third-party
parts linked into the shipped binaries, one a line on standard input as
third-party-parts.sh prints them (the same data THIRD-PARTY-NOTICES.txt is
made from). The tools that built it (compiler, linker) are named with the
Debian packages that hold them. Everything comes from the build and the
commit, nothing from the clock: the same commit writes the same bytes.

Usage: third-party-parts.sh ... | sbom.py NAME VERSION COMMIT_TIME TOOL...
"""
import datetime
import hashlib
import json
import os
import subprocess
import sys
import urllib.parse


def fail(message):
    print(f"sbom: {message}", file=sys.stderr)
    sys.exit(1)


def dpkg_query(*arguments):
    try:
        return subprocess.run(["dpkg-query", *arguments], check=True, capture_output=True,
                              text=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        fail(f"dpkg-query {' '.join(arguments)}: {getattr(error, 'stderr', '') or error}")


def debian_package_of(path):
    real = os.path.realpath(path)
    return dpkg_query("-S", real).splitlines()[0].split(":")[0]


def purl(package, version):
    # A package URL's version is percent-encoded: Debian's carry '+' and '~'.
    architecture = dpkg_query("-W", "-f=${Architecture}", package)
    return f"pkg:deb/debian/{package}@{urllib.parse.quote(version, safe='')}?arch={architecture}"


def main():
    if len(sys.argv) < 4:
        fail("usage: sbom.py NAME VERSION COMMIT_TIME TOOL...")
    name, version, commit_time, tools = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]

    components = []
    for line in sys.stdin.read().splitlines():
        fields = line.split("|")
        if len(fields) != 7:
            fail(f"a part is not seven fields: {line!r}")
        part, part_version, package, libraries, licence, _copyright, upstream = fields
        if part == "expat":
            description = "The XML parser in both plug-ins, compiled from Debian's source package"
            source = f"pkg:deb/debian/expat@{urllib.parse.quote(part_version, safe='')}?arch=source"
        else:
            description = f"Linked in statically from {package}: {libraries}"
            source = purl(package, part_version)
        component = {
            "type": "library",
            "bom-ref": part,
            "name": part,
            "version": part_version,
            "description": description,
            "licenses": [{"expression": licence}],
            "purl": source,
            "externalReferences": [{"type": "website", "url": upstream}],
        }
        if part == "libstdc++":
            component["pedigree"] = {"notes": (
                "Linked from a copy of the package's libstdc++.a in which each COMDAT unwind table "
                "(.pdata$FUNC) carries the section symbol GNU as leaves out, so that lld keeps it "
                "(scripts/mend-unwind-tables.py); no code or data is changed.")}
        components.append(component)
    if not components:
        fail("no third-party parts on standard input")

    tool_components = []
    for tool in tools:
        package = debian_package_of(tool)
        package_version = dpkg_query("-W", "-f=${Version}", package)
        tool_components.append({
            "type": "application",
            "name": package,
            "version": package_version,
            "purl": purl(package, package_version),
        })

    timestamp = datetime.datetime.fromtimestamp(int(commit_time), datetime.timezone.utc)
    root = {
        "type": "application",
        "bom-ref": name,
        "name": name,
        "version": version,
        "description": "setup.dll, framework_setup.dll and tzrhost.exe (64-bit Windows)",
        "licenses": [{"license": {"id": "MIT"}}],
    }
    bom = {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "version": 1,
        "metadata": {
            "timestamp": timestamp.strftime("%Y-%m-%dT%H:%M:%SZ"),
            "tools": {"components": tool_components},
            "component": root,
        },
        "components": components,
        "dependencies": [
            {"ref": name, "dependsOn": [c["bom-ref"] for c in components]},
        ] + [{"ref": c["bom-ref"]} for c in components],
    }
    # A serial number per distinct SBOM, from its contents: a rebuild of the
    # same commit has the same one.
    digest = hashlib.sha256(json.dumps(bom, sort_keys=True).encode()).hexdigest()
    serial = f"{digest[:8]}-{digest[8:12]}-5{digest[13:16]}-a{digest[17:20]}-{digest[20:32]}"
    bom = {"$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json", "bomFormat": "CycloneDX",
           "specVersion": "1.6", "serialNumber": f"urn:uuid:{serial}", **bom}
    json.dump(bom, sys.stdout, indent=2)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
