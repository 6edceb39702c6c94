"""The whole exchange with the shipped executable: log-in, browser, pricing, retrieval, result file.

Runs in a private network and mount namespace where the built-in gateway host is the
stand-in on 127.0.0.1:443; the user's part is played by the fake browser and xdotool.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "gateway_standin"))
from private_gateway import (LAUNCHER, RedirectedLocalAppData, SupportLog, WholeProcessTestCase,  # noqa: E402
                             free_port, host_path, module_command, password_forms, start_whole_process_tests,
                             wait_port, wine_path)
from xsession import wait_exit  # noqa: E402
import standin  # noqa: E402

ARGS = None
RECUPERER = (22 + 62, 158 + 25)
ANNULER = (202 + 62, 158 + 25)
INSTRUCTION_LINE = (22, 134, 305, 18)  # x, y, width, height in the dialog
WORKED_EXAMPLE = {"modele": "meuble-haut-60", "finition": "chene-clair", "quantite": "2"}
PASSWORD = "Mot de passe&1"
# The steps of a retrieval as the support log tells them.
EXCHANGE_EVENTS = ["démarrage", "configuration lue", "requête jeton", "navigateur", "requête document",
                   "requête devis", "fichier écrit", "fichier écrit", "fin"]


def bmp_pixels(data):
    """(width, height, rows of (r, g, b) top to bottom) of a 24-bit BMP."""
    assert data[:2] == b"BM", "not a BMP"
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bits = struct.unpack_from("<H", data, 28)[0]
    assert bits == 24, "BMP is %d bits per pixel" % bits
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        start = offset + y * stride
        row = [(data[start + 3 * x + 2], data[start + 3 * x + 1], data[start + 3 * x]) for x in range(width)]
        rows.append(row)
    if height > 0:
        rows.reverse()
    return width, abs(height), rows


def png_rows(data):
    """Rows of (r, g, b) of the stand-in's own PNGs (8-bit RGB, filter 0)."""
    width, height = struct.unpack_from(">II", data, 16)
    idat = b""
    pos = 8
    while pos < len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        if kind == b"IDAT":
            idat += data[pos + 8:pos + 8 + length]
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = 1 + 3 * width
    return [[tuple(raw[y * stride + 1 + 3 * x:y * stride + 4 + 3 * x]) for x in range(width)] for y in range(height)]


def cp1252_with_references(text):
    """Text as the result file holds it: Windows-1252, a reference for what it lacks."""
    out = bytearray()
    for c in text:
        try:
            out += c.encode("cp1252")
        except UnicodeEncodeError:
            out += b"&#x%X;" % ord(c)
    return bytes(out)


class ExchangeTest(WholeProcessTestCase):
    def setUp(self):
        self.gateway.reset()
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.result = os.path.join(self.dir, "retour.xml")
        self.exe = ARGS.exe
        self.logs = tempfile.TemporaryDirectory()
        self.log = SupportLog(self.logs.name)

    def tearDown(self):
        self.tmp.cleanup()
        self.logs.cleanup()

    def write_config(self, password=PASSWORD):
        path = os.path.join(os.path.dirname(self.result), "config.ini")
        with open(path, "w", encoding="cp1252", newline="\r\n") as f:
            f.write("[General]\nVersion=1\nConfigurateur=vestiora\n[Utilisateur]\n"
                    "Identifiant=jeanne.morel@exemple.fr\nMotDePasse=%s\n" % password)
        return path

    def start(self, play_user=None, extra_env=None):
        env = self.x.env(self.gateway.env(play_user))
        env.update(self.log.env())
        env.update(extra_env or {})
        self.proc = subprocess.Popen(module_command(self.exe, self.result, self.write_config()), env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.window = self.x.wait_window("^Veltrano - Configurateur vestiora$")
        return self.proc

    def finish(self, proc):
        code, self.stderr = wait_exit(proc)
        self.assertNotIn(PASSWORD, self.stderr)
        return code

    def check_support_log(self, steps):
        """The log holds the run's `steps` in order, and no form of the password."""
        events = self.log.events()
        self.assertEqual([e.split(" :")[0] for e in events], steps, events)
        for secret in password_forms(PASSWORD):
            self.assertNotIn(secret, "\n".join(events).lower())
        return events

    def worked_example(self):
        """The worked example, from start to result file; the result's bytes."""
        proc = self.start(play_user=WORKED_EXAMPLE)
        self.retrieve()
        self.assertEqual(self.finish(proc), 0, self.stderr)
        self.assertNotIn("Module_Valmora:", self.stderr)
        with open(self.result, "rb") as f:
            data = f.read()
        self.assertIn(b"<PrixTotal>450.00</PrixTotal>", data)
        self.assertIn(cp1252_with_references("<Image>%s</Image>" % host_path(
            os.path.join(os.path.dirname(self.result), "P-1042.bmp"))), data)
        return data

    def retrieve(self, lines=2):
        """Waits for the browser (and the pricing), then presses « Récupérer le devis »."""
        self.gateway.wait_browser(lines)
        time.sleep(0.2)
        self.x.click(self.window, *RECUPERER)

    def test_worked_example_writes_the_expected_file_and_picture(self):
        proc = self.start(play_user=WORKED_EXAMPLE)
        self.retrieve()
        self.assertEqual(self.finish(proc), 0, self.stderr)

        with open(self.result, "rb") as f:
            data = f.read()
        picture = os.path.join(self.dir, "P-1042.bmp")
        expected = ("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<Configurateur>\r\n"
                    "  <Jeton>{jeton}</Jeton>\r\n  <Passerelle>vestiora</Passerelle>\r\n"
                    "  <Project>P-1042</Project>\r\n  <Libelle>Meuble haut 60 cm</Libelle>\r\n"
                    "  <Detail>Façade chêne clair</Detail>\r\n  <EcoTaxe>3.50</EcoTaxe>\r\n"
                    "  <PrixUnitaire>225.00</PrixUnitaire>\r\n  <Quantite>2</Quantite>\r\n"
                    "  <PrixTotal>450.00</PrixTotal>\r\n  <Image>{image}</Image>\r\n"
                    "</Configurateur>\r\n\r\n")
        jeton = data.split(b"<Jeton>")[1].split(b"</Jeton>")[0].decode()
        self.assertEqual(data, expected.format(jeton=jeton, image=host_path(picture)).encode("cp1252"))
        self.assertIn(b"Fa\xe7ade ch\xeane", data)
        self.assertEqual(data[-4:], b"\r\n\r\n")
        self.assertEqual(data.count(b"\n"), data.count(b"\r\n"))

        with open(picture, "rb") as f:
            width, height, rows = bmp_pixels(f.read())
        source = png_rows(standin.png_bytes(240, 160, standin.FINISHES["chene-clair"][1]))
        self.assertEqual((width, height), (240, 160))
        self.assertEqual(rows, source)
        self.assertEqual(sorted(os.listdir(self.dir)), ["P-1042.bmp", "config.ini", "retour.xml"])

        requests = self.gateway.requests()
        paths = [r["path"] for r in requests]
        self.assertEqual(paths, ["/index.php/Services/jeton", "/configurateur", "/chiffrer", "/recuperation",
                                 "/index.php/Services/recuperation_valmora"])
        # The click: both requests on one connection, each client with its own cookies.
        document, quote = requests[3], requests[4]
        self.assertEqual(document["connection"], quote["connection"])
        self.assertIn("VALMORA_SESSION=", dict(document["headers"]).get("Cookie", ""))
        self.assertNotIn("Cookie", dict(quote["headers"]))
        events = self.check_support_log(EXCHANGE_EVENTS)
        self.assertIn("mdp=****", events[2])
        self.assertIn("fichier écrit : %s (%d octets)" % (host_path(picture), os.path.getsize(picture)), events)

    # The support log and the file system as shops have them ----------------------------

    def test_log_over_1_mib_is_moved_aside_and_a_new_one_starts(self):
        os.makedirs(os.path.dirname(self.log.path), exist_ok=True)
        earlier = b"".join(b"2026-12-01 09:00:00.000 [1] ancienne ligne %d\n" % i for i in range(25000))
        self.assertGreater(len(earlier), 1 << 20)
        with open(self.log.path, "wb") as f:
            f.write(earlier)
        self.log.start = 0
        self.worked_example()
        with open(self.log.path + ".1", "rb") as f:
            self.assertEqual(f.read(), earlier)
        self.check_support_log(EXCHANGE_EVENTS)

    def test_a_log_that_cannot_be_written_changes_nothing_else(self):
        # "Valmora" is a file where the log's folder should be: nothing can open the log.
        if LAUNCHER:
            local = os.path.join(self.logs.name, "local")
            os.makedirs(local)
            with open(os.path.join(local, "Valmora"), "w") as f:
                f.write("pas un dossier")
            with RedirectedLocalAppData(host_path(local)):
                self.worked_example()
        else:
            os.makedirs(self.log.state)
            with open(os.path.join(self.log.state, "Valmora"), "w") as f:
                f.write("pas un dossier")
            self.worked_example()
        self.assertEqual(sorted(os.listdir(self.dir)), ["P-1042.bmp", "config.ini", "retour.xml"])

    def test_paths_with_accents_and_characters_outside_windows_1252(self):
        folder = os.path.join(self.dir, "Devis de Hélène Dupré ∑ Ωmega ½")
        os.makedirs(folder)
        self.result = os.path.join(folder, "retour été.xml")
        profile = os.path.join(self.logs.name, "Profils", "Hélène Dupré ∑", "AppData", "Local")
        if LAUNCHER:
            os.makedirs(profile)
            with RedirectedLocalAppData(host_path(profile)) as local:
                self.log = SupportLog(self.logs.name, folder=local)
                data = self.worked_example()
        else:
            self.log = SupportLog(self.logs.name, folder=profile)
            data = self.worked_example()
        self.assertEqual(sorted(os.listdir(folder)), ["P-1042.bmp", "config.ini", "retour été.xml"])
        self.check_support_log(EXCHANGE_EVENTS)

    def test_result_path_longer_than_260_characters(self):
        folder = self.dir
        while len(host_path(folder)) < 280:
            folder = os.path.join(folder, "Dossier des devis de la boutique de Hélène Dupré")
        os.makedirs(folder)
        self.result = os.path.join(folder, "retour.xml")
        self.assertGreater(len(host_path(self.result)), 260)
        self.worked_example()
        self.assertEqual(sorted(os.listdir(folder)), ["P-1042.bmp", "config.ini", "retour.xml"])
        self.check_support_log(EXCHANGE_EVENTS)

    def test_the_exchange_goes_through_the_proxy_named_beside_the_executable(self):
        if shutil.which("tinyproxy") is None:
            self.skipTest("tinyproxy is missing")
        # A copy of the executable, so that its settings file touches nothing shared.
        exe_dir = os.path.join(self.dir, "programme")
        os.makedirs(exe_dir)
        self.exe = os.path.join(exe_dir, os.path.basename(ARGS.exe))
        shutil.copy2(ARGS.exe, self.exe)
        port = free_port()
        conf = os.path.join(self.dir, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write("Port %d\nListen 127.0.0.1\nTimeout 60\nLogLevel Critical\nBasicAuth agent Pr0xy-9\n"
                    "User root\nGroup root\n" % port)
        with open(os.path.join(exe_dir, "Module_Valmora.ini"), "w", newline="\r\n") as f:
            f.write("[Proxy]\nBasicAuthentication=1\nProxyServer=127.0.0.1\nProxyPort=%d\n"
                    "ProxyUsername=agent\nProxyPassword=Pr0xy-9\n" % port)
        proxy = subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_port(port)
            proc = self.start(play_user=WORKED_EXAMPLE)
            self.retrieve()
            self.assertEqual(self.finish(proc), 0, self.stderr)
        finally:
            proxy.terminate()
            proxy.wait()
        with open(self.result, "rb") as f:
            self.assertIn(b"<PrixTotal>450.00</PrixTotal>", f.read())
        module_requests = [r for r in self.gateway.requests() if r["path"] not in ("/configurateur", "/chiffrer")]
        self.assertEqual(len(module_requests), 3)
        self.assertTrue(all("Proxy-Authorization" not in dict(r["headers"]) for r in module_requests))

    def test_empty_project_gives_seven_empty_elements_and_no_quote_request(self):
        proc = self.start()  # the user priced nothing
        self.retrieve(lines=1)
        self.assertEqual(self.finish(proc), 0, self.stderr)
        with open(self.result, "rb") as f:
            data = f.read()
        for name in ("Libelle", "Detail", "EcoTaxe", "PrixUnitaire", "Quantite", "PrixTotal", "Image"):
            self.assertIn(b"<%s />\r\n" % name.encode(), data)
        paths = [r["path"] for r in self.gateway.requests()]
        self.assertEqual(paths, ["/index.php/Services/jeton", "/recuperation"])
        self.assertEqual(sorted(os.listdir(self.dir)), ["config.ini", "retour.xml"])

    def test_annuler_after_an_earlier_run_leaves_its_result_untouched(self):
        earlier = b"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<Configurateur/>\r\n\r\n"
        with open(self.result, "wb") as f:
            f.write(earlier)
        before = os.stat(self.result).st_mtime_ns
        proc = self.start()
        self.gateway.wait_browser(1)
        self.x.click(self.window, *ANNULER)
        self.assertEqual(self.finish(proc), 0)
        with open(self.result, "rb") as f:
            self.assertEqual(f.read(), earlier)
        self.assertEqual(os.stat(self.result).st_mtime_ns, before)

    def test_quote_error_keeps_the_dialog_and_the_second_press_succeeds(self):
        self.gateway.script({"/index.php/Services/recuperation_valmora": [
            {"status": 500},
            {"body": '{"code": 200, "returnedObject": {"libelle": "Colonne 40 cm", "prixTotal": 310.00}}',
             "headers": [["Content-Type", "application/json; charset=utf-8"]]}]})
        proc = self.start(play_user=WORKED_EXAMPLE)
        self.retrieve()
        box = self.x.wait_window("^Configurateur Valmora$")
        self.assertTrue(self.x.windows("^Veltrano - Configurateur vestiora$"), "the dialog stays open")
        self.assertFalse(os.path.exists(self.result))
        self.x.press_return(box)
        time.sleep(0.3)
        self.x.click(self.window, *RECUPERER)
        self.assertEqual(self.finish(proc), 0, self.stderr)
        self.assertIn("Le serveur %s a répondu : HTTP/1.1 500 Internal Server Error" % ARGS.gateway_host, self.stderr)
        with open(self.result, "rb") as f:
            data = f.read()
        self.assertIn(b"<Libelle>Colonne 40 cm</Libelle>", data)
        self.assertIn(b"<PrixTotal>310.00</PrixTotal>", data)


    # The Windows Installer package, as shops' IT pushes it ------------------------------

    INSTALLDIR = r"C:\Hote\Modules"

    def msiexec(self, *args):
        """msiexec under the launcher's Wine, silent; its exit code."""
        return subprocess.run([*LAUNCHER, "msiexec", *args, "/qn"], capture_output=True).returncode

    def installed(self, name=""):
        return wine_path(self.INSTALLDIR + ("\\" + name if name else ""))

    def package(self, version):
        """The package of this build's files, as another version would carry them."""
        stage = os.path.join(self.dir, "paquet-" + version)
        shutil.copytree(ARGS.msi_stage, stage)
        msi = os.path.join(self.dir, "Module_Valmora-%s-x64.msi" % version)
        subprocess.run([os.path.join(HERE, "..", "..", "scripts", "make-msi"), stage, version, msi], check=True,
                       env=dict(os.environ, SOURCE_DATE_EPOCH="1765000000"), capture_output=True)
        return msi

    def require_msi(self):
        if not ARGS.msi:
            self.skipTest("no package given (--msi)")
        self.assertTrue(os.path.exists(ARGS.msi), ARGS.msi)
        # Whatever happens, the prefix is left as found: nothing installed, no folder.
        self.addCleanup(shutil.rmtree, self.installed(), True)
        self.addCleanup(self.msiexec, "/x", host_path(ARGS.msi))

    def test_msi_installs_silently_where_asked_runs_and_uninstalls_clean(self):
        self.require_msi()
        self.assertEqual(self.msiexec("/i", host_path(ARGS.msi), "INSTALLDIR=" + self.INSTALLDIR), 0)
        self.assertEqual(sorted(os.listdir(self.installed())),
                         ["LISEZMOI.txt", "Module_Valmora.exe", "Module_Valmora.ini.exemple"])
        self.exe = self.installed("Module_Valmora.exe")
        self.worked_example()
        self.assertEqual(self.msiexec("/x", host_path(ARGS.msi)), 0)
        self.assertFalse(os.path.exists(self.installed("Module_Valmora.exe")))
        self.assertFalse(os.path.exists(self.installed()), "an uninstall leaves nothing of the package")

    def test_msi_upgrade_keeps_the_shops_proxy_file(self):
        self.require_msi()
        previous = self.package("1.2.0")
        self.addCleanup(self.msiexec, "/x", host_path(previous))
        self.assertEqual(self.msiexec("/i", host_path(previous), "INSTALLDIR=" + self.INSTALLDIR), 0)
        own = b"[Proxy]\r\n; pas de proxy ici pour l'instant\r\n"
        with open(self.installed("Module_Valmora.ini"), "wb") as f:
            f.write(own)
        # The upgrade, as IT pushes it, without naming the folder again.
        self.assertEqual(self.msiexec("/i", host_path(ARGS.msi)), 0)
        with open(self.installed("Module_Valmora.ini"), "rb") as f:
            self.assertEqual(f.read(), own)
        with open(self.installed("Module_Valmora.exe"), "rb") as f, \
                open(os.path.join(ARGS.msi_stage, "Module_Valmora.exe"), "rb") as g:
            self.assertEqual(f.read(), g.read(), "the newer executable")
        self.assertEqual(self.msiexec("/x", host_path(ARGS.msi)), 0)
        self.assertEqual(os.listdir(self.installed()), ["Module_Valmora.ini"], "the shop's file stays")

    # The window while a request runs -----------------------------------------------

    def instruction_line(self, name):
        """The instruction line as the screen shows it, as PNG bytes."""
        wx, wy, _, _ = self.x.geometry(self.window)
        x, y, w, h = INSTRUCTION_LINE
        path = os.path.join(self.dir, name)
        self.x.screenshot(ARGS.screenshot_tool, path, (wx + x, wy + y, w, h))
        with open(path, "rb") as f:
            data = f.read()
        os.remove(path)
        return data

    def annuler_ends_at_once(self, proc):
        """Clicks « Annuler »: the window must be gone within a second, the module soon
        after (Wine takes a few seconds to end a process), with nothing written."""
        # Under Wine without a window manager, a window takes about 2 s to leave the screen
        # after any click that closes it, with or without a request running.
        limit = 1.0 + 0.2 if not LAUNCHER else 3.0  # the click itself takes 0.05 s
        started = time.monotonic()
        self.x.click(self.window, *ANNULER)
        while self.x.windows("^Veltrano - Configurateur vestiora$") and time.monotonic() - started < 5:
            time.sleep(0.02)
        self.assertLess(time.monotonic() - started, limit)
        code, self.stderr = wait_exit(proc, timeout=15)
        if not LAUNCHER:
            self.assertLess(time.monotonic() - started, limit)
        self.assertEqual(code, 0)
        self.assertNotIn("Module_Valmora:", self.stderr)
        self.assertEqual(sorted(os.listdir(self.dir)), ["config.ini"])

    def test_annuler_during_a_dripping_log_in_ends_at_once(self):
        self.gateway.script({"/index.php/Services/jeton": [
            {"body": "<Configurateur><Jeton>T</Jeton></Configurateur>", "drip": {"size": 1, "every": 0.5}}]})
        proc = self.start()
        deadline = time.monotonic() + 10
        while not self.gateway.requests() and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(1.0)
        self.annuler_ends_at_once(proc)
        self.assertEqual(self.gateway.browser_lines(), [])

    def test_slow_quote_shows_its_progress_and_annuler_writes_nothing(self):
        # About 3 MB, 100 kB every 0.2 s: a quote on a slow line.
        body = '{"code": 200, "returnedObject": {"libelle": "Lent"}, "remplissage": "%s"}' % ("x" * 3000000)
        self.gateway.script({"/index.php/Services/recuperation_valmora": [
            {"body": body, "drip": {"size": 100000, "every": 0.2}}]})
        proc = self.start(play_user=WORKED_EXAMPLE)
        self.gateway.wait_browser(2)
        time.sleep(0.3)
        idle = self.instruction_line("repos.png")
        self.x.click(self.window, *RECUPERER)
        time.sleep(1.5)
        first = self.instruction_line("progression1.png")
        os.makedirs(ARGS.artifacts, exist_ok=True)
        self.x.screenshot(ARGS.screenshot_tool, os.path.join(ARGS.artifacts, "dialog_slow_quote.png"))
        time.sleep(0.8)
        second = self.instruction_line("progression2.png")
        self.assertNotEqual(first, idle, "the line says what is happening")
        self.assertNotEqual(second, first, "the line follows the quote as it arrives")
        self.annuler_ends_at_once(proc)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--screenshot-tool", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--gateway-host", required=True)
    parser.add_argument("--msi", help="the Windows Installer package, to install under Wine's msiexec")
    parser.add_argument("--msi-stage", help="the files it holds, to make the previous version's package")
    ARGS, argv = start_whole_process_tests(parser)
    unittest.main(argv=argv)


if __name__ == "__main__":
    main()
