#!/usr/bin/env python3
"""scripts/sign.sh on a copy of PatchUpdate.exe, with a throwaway self-signed certificate made on the spot.

  check_signing.py --build-dir DIR [--templates TDIR] --utility PatchUpdate.exe [--scenario NAME]

Makes a code-signing certificate and a password-protected PFX with openssl, signs a copy of the exe
through sign.sh (PFX and password from the environment, as an administrator would), and checks: the
copy verifies with osslsigncode against that certificate and the unsigned exe doesn't; the signed copy
still carries its version resource and manifest; and it runs a whole end-to-end scenario (default
run_patch_applied) under Wine. Exit code 0 when all of that holds.
"""

import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parent.parent
sys.path.insert(0, str(HERE))

import check_exe  # noqa: E402
import harness  # noqa: E402
import run_scenario  # noqa: E402
import wine_prefix  # noqa: E402
from scenario import find  # noqa: E402

PASSWORD = "throwaway-test-password"


def run(args: list, **kwargs) -> subprocess.CompletedProcess:
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, **kwargs)


def make_pfx(folder: Path) -> tuple[Path, Path]:
    key, cert, pfx = folder / "key.pem", folder / "cert.pem", folder / "signer.pfx"
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
         "-subj", "/CN=PatchUpdate throwaway test signer", "-addext", "extendedKeyUsage=codeSigning",
         "-addext", "keyUsage=digitalSignature"], check=True)
    run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx, "-passout", "pass:" + PASSWORD],
        check=True)
    return pfx, cert


def verify(exe: Path, cert: Path) -> subprocess.CompletedProcess:
    return run(["osslsigncode", "verify", "-in", exe, "-CAfile", cert])


def main() -> int:
    parser = harness.command_line_parser(__doc__)
    parser.add_argument("--scenario", default="run_patch_applied")
    args = parser.parse_args()

    failures = []
    with tempfile.TemporaryDirectory(prefix="patchupdate-sign-") as temp_name:
        temp = Path(temp_name)
        pfx, cert = make_pfx(temp)
        signed = temp / "PatchUpdate.exe"
        shutil.copy2(args.utility, signed)
        env = {**os.environ, "PATCHUPDATE_SIGN_PFX": str(pfx), "PATCHUPDATE_SIGN_PASSWORD": PASSWORD}
        env.pop("PATCHUPDATE_TIMESTAMP_URL", None)  # no network in the tests
        signing = run([REPO / "scripts" / "sign.sh", signed], env=env)
        if signing.returncode != 0:
            print(f"FAIL: sign.sh ended with {signing.returncode}:\n{signing.stdout}{signing.stderr}")
            return 1

        checked = verify(signed, cert)
        print("\n".join(line for line in checked.stdout.splitlines()
                        if line.strip().startswith(("Signature verification", "Number of verified", "Subject"))))
        if checked.returncode != 0 or "Signature verification: ok" not in checked.stdout:
            failures.append(f"the signed copy doesn't verify ({checked.returncode}):\n{checked.stdout}{checked.stderr}")
        if verify(args.utility, cert).returncode == 0:
            failures.append("the unsigned exe verifies too: the check proves nothing")
        failures += [f"signed copy: {failure}" for failure in check_exe.check(signed)]

        # In a folder of its own: the same scenario may be running beside it with the unsigned exe.
        build_dir = args.build_dir.resolve()
        where = harness.Locations(helpers=build_dir / "helpers", runs=temp / "runs", utility=signed,
                                  template=wine_prefix.template_path(wine_prefix.templates_folder(args.templates), "win64"))
        scenario = find(run_scenario.all_scenarios(), args.scenario)
        outcome = run_scenario.run_once_more_on_machinery_failure(scenario, where, False, None, print,
                                                                  lambda reason: None)
        harness.report(scenario, outcome)
        if outcome.failures:
            failures.append(f"the signed copy fails scenario {args.scenario}")
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
