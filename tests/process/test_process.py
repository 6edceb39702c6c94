"""The built executable under Xvfb: command line, dialog, browser hand-off, Annuler, screenshots."""

import argparse
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from private_gateway import WholeProcessTestCase, module_command, start_whole_process_tests  # noqa: E402
from xsession import wait_exit  # noqa: E402

ARGS = None
PARAMETER_MESSAGE = "Configurateur Valmora - Verifiez vos paramètres !\n1. Fichier temp.\n2. Fichier config."
DIALOG_SIZE = (351, 234)


class ProcessTest(WholeProcessTestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def start(self, *args):
        return subprocess.Popen(module_command(ARGS.exe, *args), env=self.x.env(self.gateway.env()), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)

    def write_config(self, configurateur):
        path = os.path.join(self.dir, "config.ini")
        with open(path, "w", encoding="cp1252", newline="\r\n") as f:
            f.write("[General]\nVersion=1\nConfigurateur=%s\n[Utilisateur]\nIdentifiant=a@b.fr\n"
                    "MotDePasse=x\n" % configurateur)
        return path

    def test_wrong_argument_count_shows_only_the_parameter_message(self):
        for args in ([], ["retour.xml"], ["retour.xml", "config.ini", "trois"]):
            with self.subTest(count=len(args)):
                proc = self.start(*args)
                box = self.x.wait_window("^Configurateur Valmora$")
                time.sleep(0.2)
                self.assertEqual(len(self.x.windows("Configurateur")), 1, "only the message box is shown")
                self.assertNotEqual(self.x.geometry(box)[2:], DIALOG_SIZE)
                self.assertIsNone(proc.poll(), "the module waits for the message to be dismissed")
                self.x.press_return(box)
                code, err = wait_exit(proc)
                self.assertEqual(code, 0)
                self.assertIn(PARAMETER_MESSAGE, err)

    def test_dialog_shows_configuration_and_annuler_ends_with_exit_zero(self):
        os.makedirs(ARGS.artifacts, exist_ok=True)
        for configurateur in ("vestiora", "duranel"):
            with self.subTest(configurateur=configurateur):
                result = os.path.join(self.dir, "retour.xml")
                proc = self.start(result, self.write_config(configurateur))
                self.gateway.reset()
                window = self.x.wait_window("^Veltrano - Configurateur %s$" % configurateur)
                self.assertEqual(self.x.geometry(window)[2:], DIALOG_SIZE)
                opened = self.gateway.wait_browser()
                self.assertRegex(opened[0], r"^https://%s/configurateur\?jeton=[0-9a-f]+$" % ARGS.gateway_host)
                time.sleep(0.3)
                self.x.screenshot(ARGS.screenshot_tool,
                                  os.path.join(ARGS.artifacts, "dialog_%s.png" % configurateur))
                self.x.click(window, 202 + 62, 158 + 25)  # "Annuler"
                self.assertEqual(wait_exit(proc)[0], 0)
                self.assertFalse(os.path.exists(result))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--screenshot-tool", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--gateway-host", required=True)
    ARGS, argv = start_whole_process_tests(parser)
    unittest.main(argv=argv)


if __name__ == "__main__":
    main()
