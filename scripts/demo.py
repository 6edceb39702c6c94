"""Runs the module against the local stand-in gateway and shows what it wrote."""

import argparse
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "process"))
from private_gateway import STANDIN, MAKE_CERTS, install_fake_browser  # noqa: E402
from xsession import XDisplay, wait_exit  # noqa: E402

CONFIG = """[General]
Version=1
Configurateur=vestiora
[Utilisateur]
Identifiant=jeanne.morel@exemple.fr
MotDePasse=demo
[Update]
DevisId=
"""
USER_CHOICES = '{"modele": "meuble-haut-60", "finition": "chene-clair", "quantite": "2"}'


def start_gateway(build, port):
    certs = os.path.join(build, "demo-certs")
    subprocess.run([MAKE_CERTS, certs, "localhost"], check=True)
    gateway = subprocess.Popen(
        [sys.executable, STANDIN, "--cert", os.path.join(certs, "gateway.pem"),
         "--key", os.path.join(certs, "gateway.key"), "--host", "127.0.0.1", "--port", str(port),
         "--public-host", "localhost:%d" % port, "--http-page", "--watch-stdin"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    line = gateway.stdout.readline()
    if not line:
        gateway.wait()
        sys.exit("La passerelle de démonstration ne démarre pas : le port %d est-il déjà pris ? "
                 "(VALMORA_DEMO_PORT=... scripts/demo)" % port)
    return gateway, os.path.join(certs, "ca.pem")


def show_result(result):
    print()
    if not os.path.exists(result):
        print("Aucun fichier résultat : le module s'est fermé sans devis.")
        return
    print("Fichier résultat %s (Windows-1252, lignes CR LF) :" % result)
    with open(result, "rb") as f:
        print(f.read().decode("cp1252").replace("\r\n", "\n").rstrip("\n"))
    folder = os.path.dirname(result)
    pictures = [name for name in os.listdir(folder) if name.endswith(".bmp")]
    for name in pictures:
        path = os.path.join(folder, name)
        print("Image de la ligne : %s (%d octets)" % (path, os.path.getsize(path)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--port", type=int, default=8443)
    args = parser.parse_args()
    exe = os.path.join(args.build, "src", "Module_Valmora_demo")
    work = tempfile.mkdtemp(prefix="valmora_demo_")
    config = os.path.join(work, "config.ini")
    result = os.path.join(work, "retour.xml")
    with open(config, "w", encoding="cp1252", newline="\r\n") as f:
        f.write(CONFIG)

    gateway, ca = start_gateway(args.build, args.port)
    env = dict(os.environ, SSL_CERT_FILE=ca)
    print("Passerelle de démonstration : https://localhost:%d" % args.port)
    print("Configuration : %s" % config)
    try:
        if os.environ.get("DISPLAY"):
            print("Le module s'ouvre, puis le configurateur dans votre navigateur : choisissez un meuble,")
            print("cliquez sur « Chiffrer », revenez au module et cliquez sur « Récupérer le devis ».")
            subprocess.call([exe, result, config], env=env)
        else:
            play_without_display(exe, result, config, env, work, args.build)
        show_result(result)
    finally:
        gateway.stdin.close()
        gateway.terminate()
        gateway.wait()
    return 0


def play_without_display(exe, result, config, env, work, build):
    print("Pas d'écran : le module tourne sous Xvfb et la démo joue le rôle de l'utilisateur.")
    browser_bin = os.path.join(work, "bin")
    install_fake_browser(browser_bin)
    log = os.path.join(work, "navigateur.log")
    env.update({"PATH": browser_bin + os.pathsep + env.get("PATH", ""), "VALMORA_BROWSER_LOG": log,
                "VALMORA_PLAY_USER": USER_CHOICES})
    with XDisplay() as x:
        proc = subprocess.Popen([exe, result, config], env=x.env(env), stderr=subprocess.PIPE, text=True)
        window = x.wait_window("Configurateur")
        print("1. Le module est ouvert (fenêtre « Veltrano - Configurateur vestiora »).")
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and not (os.path.exists(log) and "priced" in open(log).read()):
            time.sleep(0.1)
        with open(log) as f:
            opened = f.readline().strip()
        print("2. Le navigateur a ouvert %s" % opened)
        print("3. L'utilisateur a choisi « Meuble haut 60 cm », « Façade chêne clair », quantité 2, puis « Chiffrer ».")
        shot = os.path.join(work, "dialogue.png")
        x.screenshot(os.path.join(build, "tests", "valmora_screenshot"), shot)
        print("   Capture du dialogue : %s" % shot)
        x.click(window, 22 + 62, 158 + 25)
        code, err = wait_exit(proc, timeout=60)
        print("4. « Récupérer le devis » pressé ; le module s'est terminé (code %d)." % code)
        if err.strip():
            print("   Messages du module :\n   " + err.strip().replace("\n", "\n   "))


if __name__ == "__main__":
    sys.exit(main())
