"""Starts the module on a sample configuration in a temporary folder."""

import argparse
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "process"))
from xsession import XDisplay, wait_exit  # noqa: E402

CONFIG = """[General]
Version=1
Configurateur=vestiora
[Utilisateur]
Identifiant=jeanne.morel@exemple.fr
MotDePasse=demo
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    args = parser.parse_args()
    exe = os.path.join(args.build, "src", "Module_Valmora")
    work = tempfile.mkdtemp(prefix="valmora_demo_")
    config = os.path.join(work, "config.ini")
    result = os.path.join(work, "retour.xml")
    with open(config, "w", encoding="cp1252", newline="\r\n") as f:
        f.write(CONFIG)
    print("Configuration : %s" % config)

    if os.environ.get("DISPLAY"):
        print("Le module s'ouvre ; « Annuler » le ferme.")
        return subprocess.call([exe, result, config])

    print("Pas d'écran : le module tourne sous Xvfb et la démo joue le rôle de l'utilisateur.")
    with XDisplay() as x:
        proc = subprocess.Popen([exe, result, config], env=x.env())
        window = x.wait_window("Configurateur")
        time.sleep(0.5)
        shot = os.path.join(work, "dialogue.png")
        x.screenshot(os.path.join(args.build, "tests", "valmora_screenshot"), shot)
        print("Capture du dialogue : %s" % shot)
        x.click(window, 202 + 62, 158 + 25)
        print("« Annuler » pressé ; code de sortie : %d" % wait_exit(proc))
    return 0


if __name__ == "__main__":
    sys.exit(main())
