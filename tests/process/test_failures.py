"""The failure table: every bad input we can think of, against the real executable.

Each row names a scenario and what must follow: the French message the user sees, whether
the dialog stays open or closes, and always that no result file is created or changed,
that nothing else appears in the result folder, and that neither the message nor
anything the module printed contains a password. Runs in a private network and mount
namespace where the gateway host maps to stand-ins and bare listeners on 127.0.0.x:443.
"""

import argparse
import base64
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "gateway_standin"))
from private_gateway import (STANDIN, PrivateGateway, SupportLog, free_port, host_path,  # noqa: E402
                             module_command, new_workdir, one_line, password_forms, start_whole_process_tests,
                             wait_port)
from xsession import XDisplay, wait_exit  # noqa: E402
import standin  # noqa: E402

ARGS = None
PASSWORD = "S3cret&Mot#Passe"
PROXY_PASSWORD = "Pr0xy-Secr3t"
RECUPERER = (22 + 62, 158 + 25)
ANNULER = (202 + 62, 158 + 25)
DIALOG_SIZE = (351, 234)
TOKEN = "/index.php/Services/jeton"
DOCUMENT = "/recuperation"
QUOTE = "/index.php/Services/recuperation_valmora"

# Where the gateway host points for the rows that need another server.
NOBODY, UNTRUSTED, OTHER_HOST, CUT, SILENT = "127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"


def png(width, height):
    return standin.png_bytes(width, height, (120, 90, 60))


def png_claiming(width, height):
    """A tiny valid PNG whose header claims another size."""
    data = bytearray(png(4, 4))
    ihdr = struct.pack(">II", width, height) + bytes(data[24:29])
    data[16:29] = ihdr
    data[29:33] = struct.pack(">I", zlib.crc32(b"IHDR" + ihdr))
    return bytes(data)


def b64(data):
    return base64.b64encode(data).decode()


def document(project="P-1"):
    return {"body": "<Configurateur><Jeton>T</Jeton><Passerelle>vestiora</Passerelle>"
                    "<Project>%s</Project></Configurateur>" % project}


def quote(returned='{"libelle": "Meuble", "prixTotal": 10.00, "imageB64Ligne": "%s"}' % b64(png(8, 6))):
    return {"body": '{"code": 200, "returnedObject": %s}' % returned}


def token(connexion="@BASE@/configurateur?jeton=T", recuperation="@BASE@/recuperation?jeton=T"):
    return {"body": "<Configurateur><Jeton>T</Jeton><UrlConnexion>%s</UrlConnexion>"
                    "<UrlRecuperation>%s</UrlRecuperation></Configurateur>" % (connexion, recuperation)}


def retrieval(quote_reply, project="P-1"):
    return {DOCUMENT: [document(project)], QUOTE: [quote_reply]}


def pretty_token():
    """The token reply as a pretty-printing XML writer lays it out."""
    return {"body": '<?xml version="1.0" encoding="UTF-8"?>\n<Configurateur>\n  <Jeton>T</Jeton>\n'
                    "  <UrlConnexion>\n    @BASE@/configurateur?jeton=T\n  </UrlConnexion>\n"
                    "  <UrlRecuperation>\n\t@BASE@/recuperation?jeton=T\r\n  </UrlRecuperation>\n</Configurateur>\n"}


def encoded_document(encoding, label):
    """The retrieval document in another charset, declared in its Content-Type."""
    return {"body": '<?xml version="1.0" encoding="%s"?><Configurateur><Jeton>T</Jeton>'
                    "<Passerelle>Façade 12 €</Passerelle><Project>P-1</Project></Configurateur>" % label,
            "encoding": encoding, "headers": [["Content-Type", "application/xml; charset=%s" % label]]}


class Row:
    """One scenario. `phase`: the message comes on "activation" or after "retrieval"."""

    def __init__(self, name, phase, fragment, stays_open=True, routes=None, host_ip="127.0.0.1",
                 config=None, proxy=None, result="file", short_timeouts=False, succeeds=False,
                 password=PASSWORD, version="1", picture=None, result_has=(), hold=None, new_files=(),
                 max_memory_mb=None):
        self.name = name
        self.phase = phase
        self.fragment = fragment
        self.stays_open = stays_open
        self.routes = routes or {}
        self.host_ip = host_ip
        self.config = config
        self.proxy = proxy
        self.result = result
        self.short_timeouts = short_timeouts
        self.succeeds = succeeds
        self.password = password  # written in the configuration, and never shown
        self.version = version
        self.picture = picture  # a row that succeeds: the picture's name beside the result
        self.result_has = result_has  # ... and bytes its result file holds
        self.hold = hold  # (file in the result folder, seconds): held by another program (Windows)
        self.new_files = new_files  # files a failing row may leave in the result folder
        self.max_memory_mb = max_memory_mb  # the module's peak resident memory once the message is shown


def config_text(version="1", password=PASSWORD):
    return ("[General]\r\nVersion=%s\r\nConfigurateur=vestiora\r\n[Utilisateur]\r\n"
            "Identifiant=jeanne.morel@exemple.fr\r\nMotDePasse=%s\r\n" % (version, password)).encode("cp1252")


def garbage(size):
    state = 12345
    out = bytearray()
    while len(out) < size:
        state = (1103515245 * state + 12345) & 0x7FFFFFFF
        out += struct.pack("<I", state)
    return bytes(out[:size])


HOST = "passerelle.valmora.fr"  # replaced by --gateway-host in main()

ROWS = [
    # The token request, on activation.
    Row("gateway unreachable", "activation", "Connexion impossible au serveur {host}", host_ip=NOBODY),
    Row("host name that does not resolve", "activation", "Serveur {host} introuvable : le nom d'hôte est inconnu.",
        host_ip=None),
    Row("certificate untrusted", "activation", "le certificat du serveur n'est pas reconnu", host_ip=UNTRUSTED),
    Row("certificate for another host", "activation", "le certificat du serveur n'est pas reconnu",
        host_ip=OTHER_HOST),
    Row("TLS handshake cut", "activation", "la négociation TLS a échoué", host_ip=CUT),
    Row("server accepts and never answers", "activation", "ne répond pas : connexion impossible en 2 s",
        host_ip=SILENT, short_timeouts=True),
    Row("token reply stalls", "activation", "ne répond plus : aucune donnée reçue depuis 2 s",
        routes={TOKEN: [{"hang": 30}]}, short_timeouts=True),
    Row("token reply: a burst, then silence", "activation", "ne répond plus : aucune donnée reçue depuis 2 s",
        routes={TOKEN: [dict(token(), drip={"size": 40, "every": 4})]}, short_timeouts=True),
    Row("token reply dripping a byte a second", "activation", "n'a pas envoyé sa réponse complète en 6 s",
        routes={TOKEN: [dict(token(), drip={"size": 1, "every": 1})]}, short_timeouts=True),
    Row("status line echoing the password in capitals", "activation", "a répondu : HTTP/1.1 403 Refusé : ****",
        routes={TOKEN: [{"status": 403, "reason": "Refusé : " + PASSWORD.upper()}]}),
    Row("gateway text echoing the password percent-encoded", "activation", "Message de la passerelle : mdp=****",
        stays_open=False, routes={TOKEN: [{"body": "<Erreur>mdp=%s</Erreur>" % urllib.parse.quote(PASSWORD).lower()}]}),
    Row("token 404", "activation", "Le serveur {host} a répondu : HTTP/1.1 404 Not Found",
        routes={TOKEN: [{"status": 404}]}),
    Row("token 500", "activation", "Le serveur {host} a répondu : HTTP/1.1 500 Internal Server Error",
        routes={TOKEN: [{"status": 500}]}),
    Row("redirect loop", "activation", "Trop de redirections depuis le serveur {host}",
        routes={TOKEN: [{"status": 302, "headers": [["Location", TOKEN + "?boucle=1"]]}]}),
    Row("redirect to a file address", "activation", "ni http ni https",
        routes={TOKEN: [{"status": 302, "headers": [["Location", "file:///etc/passwd"]]}]}),
    Row("body cut short", "activation", "Réponse incomplète du serveur {host}",
        routes={TOKEN: [{"body": "<Configurateur>", "content_length": 4096}]}),
    Row("token reply over its cap, streamed", "activation", "trop volumineuse (plus de 4 Mio)",
        routes={TOKEN: [{"stream": (4 << 20) + 65536}]}),
    Row("token reply over its cap, declared", "activation", "trop volumineuse (plus de 4 Mio)",
        routes={TOKEN: [{"body": "", "content_length": 300 << 20}]}),
    Row("a header over 100 KB", "activation", "Réponse du serveur {host} invalide : en-têtes trop longs.",
        routes={TOKEN: [dict(token(), headers=[["X-Long", "a" * 150000]])]}),
    Row("100 000 Set-Cookie headers", "activation", "Réponse du serveur {host} invalide : en-têtes trop longs.",
        routes={TOKEN: [dict(token(), headers=[["Set-Cookie", "c%d=1" % i] for i in range(100000)])]}),
    Row("connection reset by the server", "activation", "connexion interrompue par le serveur.",
        routes={TOKEN: [{"reset": True}]}),
    Row("configurator address of 1 MB", "activation",
        "Adresse du configurateur refusée : l'adresse reçue de la passerelle est trop longue.",
        routes={TOKEN: [token(connexion="@BASE@/configurateur?jeton=" + "a" * (1 << 20))]}),
    Row("token reply of 60 MB of empty elements", "activation", "trop volumineuse (plus de 4 Mio)",
        routes={TOKEN: [{"body": "<Configurateur>" + "<e/>" * (15 << 20) + "</Configurateur>"}]}),
    Row("token reply not XML", "activation", "Réponse de la passerelle illisible",
        routes={TOKEN: [{"body": "<html><body>Maintenance</body>"}]}),
    Row("token reply without Configurateur", "activation",
        "Configurateur vestiora : GetJetonEtUrlsErreurs \nLa passerelle n'a pas renvoyé de réponse Configurateur.",
        stays_open=False, routes={TOKEN: [{"body": "<Erreur>Identifiants %s refusés</Erreur>" % PASSWORD.replace("&", "&amp;")}]}),
    Row("configurator page at a file address", "activation", "Adresse du configurateur refusée",
        routes={TOKEN: [token(connexion="file:///etc/passwd")]}),
    Row("proxy refusing the credentials", "activation", "refuse l'accès : identifiants refusés",
        proxy={"password": "mauvais-" + PROXY_PASSWORD}),
    Row("proxy refusing the tunnel", "activation", "a refusé la connexion (réponse 403)",
        proxy={"connect_port": 8443}),
    Row("proxy port 70000", "activation", "Port du proxy invalide : 70000.", proxy={"port": 70000}),
    Row("configuration with binary garbage", "activation",
        "Votre Configurateur  est en Version 1 et devrait être en Version 0.", stays_open=False,
        config=garbage(64 << 10)),
    Row("configuration of 50 MB", "activation", None, config=config_text() + garbage(50 << 20)),
    Row("configuration missing", "activation", "n'est pas configuré. Le fichier : ", stays_open=False,
        config="missing"),
    Row("configuration of another version", "activation",
        "Votre Configurateur vestiora est en Version 1 et devrait être en Version 2.", stays_open=False,
        config=config_text("2")),
    # Short or common passwords: masked in what came from outside, never in the module's own words.
    Row("password 1 with a configuration of another version", "activation",
        "Votre Configurateur vestiora est en Version 1 et devrait être en Version 2.", stays_open=False,
        password="1", version="2"),
    Row("password 2024 with a configuration of another version", "activation",
        "Votre Configurateur vestiora est en Version 1 et devrait être en Version 2.", stays_open=False,
        password="2024", version="2"),
    Row("password like the configurator with a configuration of another version", "activation",
        "Votre Configurateur vestiora est en Version 1 et devrait être en Version 2.", stays_open=False,
        password="vestiora", version="2"),
    Row("password 1 with a token 404", "activation", "Le serveur {host} a répondu : HTTP/1.1 404 Not Found",
        routes={TOKEN: [{"status": 404}]}, password="1"),
    Row("password 2024 with a token 404", "activation", "Le serveur {host} a répondu : HTTP/1.1 404 Not Found",
        routes={TOKEN: [{"status": 404}]}, password="2024"),
    Row("password 1 echoed as a value in the status line", "activation", "a répondu : HTTP/1.1 403 Refusé : mdp=****",
        routes={TOKEN: [{"status": 403, "reason": "Refusé : mdp=1"}]}, password="1"),
    Row("password 2024 echoed in the status line", "activation", "a répondu : HTTP/1.1 403 Refusé : ****",
        routes={TOKEN: [{"status": 403, "reason": "Refusé : 2024"}]}, password="2024"),
    Row("password like the configurator echoed in the status line", "activation",
        "a répondu : HTTP/1.1 403 Refusé : ****",
        routes={TOKEN: [{"status": 403, "reason": "Refusé : Vestiora"}]}, password="vestiora"),
    # Replies as real gateways write them.
    Row("token reply with each address on a line of its own", "retrieval", None, stays_open=False, succeeds=True,
        routes=dict(retrieval(quote()), **{TOKEN: [pretty_token()]}), picture="P-1.bmp",
        result_has=[b"<Libelle>Meuble</Libelle>"]),
    Row("retrieval document in ISO-8859-15 with a euro sign", "retrieval", None, stays_open=False, succeeds=True,
        routes={DOCUMENT: [encoded_document("iso-8859-15", "ISO-8859-15")], QUOTE: [quote()]}, picture="P-1.bmp",
        result_has=[b"<Passerelle>Fa\xe7ade 12 \x80</Passerelle>"]),
    Row("retrieval document in UTF-16 with a euro sign", "retrieval", None, stays_open=False, succeeds=True,
        routes={DOCUMENT: [encoded_document("utf-16", "UTF-16")], QUOTE: [quote()]}, picture="P-1.bmp",
        result_has=[b"<Passerelle>Fa\xe7ade 12 \x80</Passerelle>"]),
    # "Récupérer le devis".
    Row("no retrieval address", "retrieval", "Aucune adresse à interroger",
        routes={TOKEN: [token(recuperation="")]}),
    Row("retrieval document 404", "retrieval", "a répondu : HTTP/1.1 404 Not Found",
        routes={DOCUMENT: [{"status": 404}]}),
    Row("retrieval document 500", "retrieval", "a répondu : HTTP/1.1 500 Internal Server Error",
        routes={DOCUMENT: [{"status": 500}]}),
    Row("retrieval document not XML", "retrieval", "Document de récupération illisible",
        routes={DOCUMENT: [{"body": "Projet: P-1"}]}),
    Row("retrieval document with a duplicate attribute", "retrieval", "Document de récupération illisible",
        routes={DOCUMENT: [{"body": '<Configurateur><Project a="1" a="2">P-1</Project></Configurateur>'}]}),
    Row("retrieval document with an undefined entity", "retrieval", "Document de récupération illisible",
        routes={DOCUMENT: [{"body": "<Configurateur><Project>P&nbsp;1</Project></Configurateur>"}]}),
    Row("retrieval document with text after its root", "retrieval", "Document de récupération illisible",
        routes={DOCUMENT: [{"body": "<Configurateur><Project>P-1</Project></Configurateur>suite"}]}),
    Row("quote 404", "retrieval", "a répondu : HTTP/1.1 404 Not Found",
        routes=retrieval({"status": 404})),
    Row("quote 500", "retrieval", "a répondu : HTTP/1.1 500 Internal Server Error",
        routes=retrieval({"status": 500})),
    Row("quote reply over its cap, streamed", "retrieval", "trop volumineuse (plus de 256 Mio)",
        routes=retrieval({"stream": (256 << 20) + 65536})),
    # Compressed quotes: the limit counts the decoded bytes as they arrive, memory stays bounded.
    Row("quote inflating to 2 GB", "retrieval", "trop volumineuse (plus de 256 Mio)",
        routes=retrieval({"gzip_zeros": 2 << 30}), max_memory_mb=400),
    Row("quote with a corrupt compressed body", "retrieval",
        "Réponse du serveur {host} illisible : les données compressées sont abîmées.",
        routes=retrieval({"body": "pas du gzip", "headers": [["Content-Encoding", "gzip"]]})),
    Row("quote in an encoding that was not offered", "retrieval",
        "Réponse du serveur {host} illisible : compression « br » non demandée.",
        routes=retrieval({"body": "x", "headers": [["Content-Encoding", "br"]]})),
    Row("label of 50 MB", "retrieval", "la valeur libelle dépasse 64 Kio.",
        routes=retrieval(quote('{"libelle": "%s"}' % ("x" * (50 << 20))))),
    Row("quote stalls", "retrieval", "ne répond plus : aucune donnée reçue depuis 2 s",
        routes=retrieval({"hang": 30}), short_timeouts=True),
    Row("quote reply not JSON", "retrieval", "Réponse du service de devis invalide : ce n'est pas du JSON valide.",
        routes=retrieval({"body": "<html>Erreur</html>"})),
    Row("JSON without code", "retrieval", "le membre code est absent.",
        routes=retrieval({"body": '{"returnedObject": {}}'})),
    Row("returnedObject null", "retrieval", "returnedObject n'est pas un objet", routes=retrieval(quote("null"))),
    Row("returnedObject a string", "retrieval", "returnedObject n'est pas un objet",
        routes=retrieval(quote('"texte"'))),
    Row("returnedObject an array", "retrieval", "returnedObject n'est pas un objet",
        routes=retrieval(quote('[{"libelle": "x"}]'))),
    Row("picture not base64", "retrieval", "Image de la ligne illisible : caractère invalide",
        routes=retrieval(quote('{"imageB64Ligne": "ceci n\'est pas du base64 !"}'))),
    Row("truncated PNG", "retrieval", "Image de la ligne illisible",
        routes=retrieval(quote('{"imageB64Ligne": "%s"}' % b64(png(64, 64)[:300])))),
    Row("PNG claiming 30000 x 30000", "retrieval", "Image de la ligne trop grande : 30000 × 30000 pixels",
        routes=retrieval(quote('{"imageB64Ligne": "%s"}' % b64(png_claiming(30000, 30000))))),
    Row("result folder missing", "retrieval", "le dossier n'existe pas.", routes=retrieval(quote()),
        result="missing folder"),
    Row("result file read-only", "retrieval", "le fichier est en lecture seule.", routes=retrieval(quote()),
        result="read-only"),
    Row("result path is a folder", "retrieval", "c'est un dossier.", routes=retrieval(quote()), result="folder"),
    # Files held by another program (Windows: the host still reading the last result, a
    # scanner looking at a picture): waited for 2 s, then named; the earlier file stays.
    Row("result file held by another program for 1.5 s", "retrieval", None, stays_open=False, succeeds=True,
        routes=retrieval(quote()), result="earlier", hold=("retour.xml", 1.5), picture="P-1.bmp"),
    Row("result file held by another program", "retrieval",
        "retour.xml : accès refusé ; il est peut-être ouvert par un autre programme. Fermez-le, puis réessayez.",
        routes=retrieval(quote()), result="earlier", hold=("retour.xml", 30), new_files=("P-1.bmp",)),
    Row("picture held by another program", "retrieval",
        "P-1.bmp : accès refusé ; il est peut-être ouvert par un autre programme. Fermez-le, puis réessayez.",
        routes=retrieval(quote()), result="earlier", hold=("P-1.bmp", 30)),
    Row("project ../../x stays in the result folder", "retrieval", None, stays_open=False,
        routes=retrieval(quote(), project="../../x"), succeeds=True, picture=".._.._x.bmp"),
    Row("project NUL", "retrieval", None, stays_open=False, routes=retrieval(quote(), project="NUL"), succeeds=True,
        picture="_NUL.bmp"),
    Row("project con", "retrieval", None, stays_open=False, routes=retrieval(quote(), project="con"), succeeds=True,
        picture="_con.bmp"),
    Row("project COM1", "retrieval", None, stays_open=False, routes=retrieval(quote(), project="COM1"),
        succeeds=True, picture="_COM1.bmp"),
]


class Listener:
    """A bare TCP port: "close" hangs up at once, "silent" accepts and never answers."""

    def __init__(self, address, mode):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((address, 443))
        self.sock.listen(16)
        self.held = []
        threading.Thread(target=self.run, args=(mode,), daemon=True).start()

    def run(self, mode):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            if mode == "close":
                conn.close()
            else:
                self.held.append(conn)


class FailureTable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = new_workdir()
        cls.gateway = PrivateGateway(HOST, cls.work)
        certs = cls.gateway.certs
        cls.extra = [subprocess.Popen([sys.executable, STANDIN, "--cert", os.path.join(certs, name + ".pem"),
                                       "--key", os.path.join(certs, name + ".key"), "--host", address,
                                       "--port", "443", "--watch-stdin"],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
                     for name, address in (("selfsigned", UNTRUSTED), ("otherhost", OTHER_HOST))]
        for proc in cls.extra:
            proc.stdout.readline()
        cls.listeners = [Listener(CUT, "close"), Listener(SILENT, "silent")]
        # Copies of the executables, so that a proxy settings file beside them touches nothing shared.
        cls.programs = os.path.join(cls.work, "programme")
        os.makedirs(cls.programs)
        for exe in (ARGS.exe, ARGS.short_exe):
            shutil.copy2(exe, cls.programs)
        cls.x = XDisplay().__enter__()
        cls.report = []
        cls.holder = None

    @classmethod
    def tearDownClass(cls):
        cls.x.__exit__(None, None, None)
        for proc in cls.extra:
            proc.stdin.close()
            proc.terminate()
            proc.wait()
            proc.stdout.close()
        cls.gateway.close()
        if ARGS.report:
            with open(ARGS.report, "w") as f:
                f.write("| Scenario | Message shown | Dialog |\n|---|---|---|\n")
                for name, message, outcome in cls.report:
                    f.write("| %s | %s | %s |\n" % (name, message.replace("\n", " ").replace("|", "\\|"), outcome))
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_failure_table(self):
        only = [name.strip() for name in ARGS.only.split(",")] if ARGS.only else None
        unknown = set(only or ()) - {row.name for row in ROWS}
        self.assertFalse(unknown, "--only names rows that do not exist")
        for row in ROWS:
            if only is not None and row.name not in only:
                continue
            if row.hold and not ARGS.hold_tool:
                continue  # sharing modes are Windows'
            with self.subTest(row=row.name):
                self.run_row(row)

    # One row -------------------------------------------------------------------------

    def run_row(self, row):
        self.gateway.reset()
        self.gateway.script(row.routes)
        self.gateway.map_host(row.host_ip)
        case = tempfile.mkdtemp(prefix="row_", dir=self.work)
        results = os.path.join(case, "resultats")
        os.makedirs(results)
        result = self.prepare_result(results, row.result)
        if row.hold and row.hold[0] != "retour.xml":
            with open(os.path.join(results, row.hold[0]), "wb") as f:
                f.write(b"ancienne image")
        support = SupportLog(case)
        config = self.prepare_config(case, row.config if row.config is not None
                                     else config_text(row.version, row.password))
        exe_name = os.path.basename(ARGS.short_exe if row.short_timeouts else ARGS.exe)
        exe = os.path.join(self.programs, exe_name)
        proxy = self.prepare_proxy(exe, row.proxy)
        before = snapshot(results)
        log_path = os.path.join(case, "sortie.log")
        try:
            with open(log_path, "w") as log:
                proc = subprocess.Popen(module_command(exe, result, config),
                                        env=self.x.env(dict(self.gateway.env(), **support.env())), stdout=log,
                                        stderr=log)
            outcome = self.drive(row, proc, log_path, results)
        finally:
            if self.holder is not None:
                self.holder.kill()
                self.holder.wait()
                self.holder = None
            if proxy is not None:
                proxy.terminate()
                proxy.wait()
            ini = os.path.splitext(exe)[0] + ".ini"
            if os.path.exists(ini):
                os.remove(ini)
        with open(log_path, encoding="utf-8", errors="replace") as f:
            printed = f.read()
        message = printed.split("Module_Valmora: ", 1)[1].strip() if "Module_Valmora: " in printed else ""
        self.report.append((row.name, message or "(aucun)", outcome))
        # The expected message may hold the password's characters in the module's own words
        # ("Configurateur vestiora"); nothing else may.
        rest = printed.replace(row.fragment.format(host=HOST), "") if row.fragment else printed
        for secret in password_forms(row.password) + password_forms(PROXY_PASSWORD):
            if len(secret) >= 4:
                self.assertNotIn(secret, rest.lower())
            else:  # a short password is masked only as a value
                self.assertNotIn("mdp=" + secret, rest.lower())
        if row.fragment is not None:
            self.assertIn(row.fragment.format(host=HOST), message)
        self.check_support_log(row, support)
        if row.succeeds:
            self.check_success(row, results, result)
        else:
            after = {name: content for name, content in snapshot(results).items() if name not in row.new_files}
            self.assertEqual(after, before, "the result folder changed")

    def check_support_log(self, row, support):
        """The run's events, from its start to its end; the message shown among them; no
        password, as in what the module printed."""
        events = support.events()
        self.assertTrue(events and events[0].startswith("démarrage : "), events)
        self.assertEqual(events[-1], "fin")
        if row.fragment is not None:
            expected = one_line(row.fragment.format(host=HOST))
            self.assertTrue(any(e.startswith("message : ") and expected in e for e in events), events)
        for name in row.new_files:  # written before the step that failed
            self.assertTrue(any(e.startswith("fichier écrit : ") and name in e for e in events), events)
        # What came from outside (requests, the browser's address, messages); the configuration
        # line names the configurator in the module's own words.
        outside = [e for e in events if not e.startswith(("démarrage : ", "configuration lue : "))]
        logged = "\n".join(e.replace(row.fragment.format(host=HOST), "") if row.fragment else e for e in outside)
        for secret in password_forms(row.password) + password_forms(PROXY_PASSWORD):
            self.assertNotIn(secret if len(secret) >= 4 else "mdp=" + secret, logged.lower())

    def drive(self, row, proc, log_path, results):
        """Plays the user's part; returns what became of the dialog."""
        if row.phase == "retrieval" or row.fragment is None:
            window = self.x.wait_window("^Veltrano - Configurateur vestiora$")
            self.gateway.wait_browser(1)
            time.sleep(0.2)
            if row.hold:
                self.hold(os.path.join(results, row.hold[0]), row.hold[1])
            if row.phase == "retrieval":
                self.x.click(window, *RECUPERER)
        if row.succeeds:
            self.assertEqual(wait_exit(proc, timeout=30)[0], 0)
            return "fermé (devis écrit)"
        if row.fragment is not None:
            wait_for_text(log_path, "Module_Valmora: ", timeout=40)
            if row.max_memory_mb is not None:
                self.assertLess(peak_memory_mb(proc.pid), row.max_memory_mb)
            self.dismiss_message()
        if not row.stays_open:
            self.assertEqual(wait_exit(proc, timeout=15)[0], 0)
            return "fermé"
        window = self.x.wait_window("^Veltrano - Configurateur vestiora$", timeout=5)
        self.assertIsNone(proc.poll(), "the dialog stays open")
        self.x.click(window, *ANNULER)
        self.assertEqual(wait_exit(proc, timeout=15)[0], 0)
        return "reste ouvert"

    def hold(self, path, seconds):
        """Another program holds `path` for `seconds` from now."""
        self.holder = subprocess.Popen(module_command(ARGS.hold_tool, host_path(path), str(int(seconds * 1000))),
                                       stdout=subprocess.PIPE, text=True)
        self.assertEqual(self.holder.stdout.readline().strip(), "held")

    def dismiss_message(self):
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            for window in self.x.windows("^Configurateur Valmora$"):
                if self.x.geometry(window)[2:] != DIALOG_SIZE:
                    self.x.press_return(window)
                    time.sleep(0.2)
                    return
            time.sleep(0.05)
        raise AssertionError("no message box to dismiss")

    def check_success(self, row, results, result):
        self.assertEqual(sorted(os.listdir(results)), sorted([row.picture, "retour.xml"]))
        with open(result, "rb") as f:
            data = f.read()
        self.assertIn(("<Image>%s</Image>" % host_path(os.path.join(results, row.picture))).encode(), data)
        for expected in row.result_has:
            self.assertIn(expected, data)
        self.assertFalse(os.path.exists(os.path.join(results, "..", "..", "x.bmp")))

    # Set-up pieces --------------------------------------------------------------------

    @staticmethod
    def prepare_result(results, kind):
        result = os.path.join(results, "retour.xml")
        if kind == "missing folder":
            return os.path.join(results, "absent", "retour.xml")
        if kind in ("read-only", "earlier"):
            with open(result, "wb") as f:
                f.write(b"<?xml version=\"1.0\"?>\r\n<Configurateur/>\r\n\r\n")
        if kind == "read-only":
            os.chmod(result, 0o444)
        if kind == "folder":
            os.makedirs(result)
        return result

    @staticmethod
    def prepare_config(case, content):
        path = os.path.join(case, "config.ini")
        if content == "missing":
            return path
        with open(path, "wb") as f:
            f.write(content if content is not None else config_text())
        return path

    def prepare_proxy(self, exe, proxy):
        if proxy is None:
            return None
        port = free_port()
        conf = os.path.join(self.work, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write("Port %d\nListen 127.0.0.1\nTimeout 60\nLogLevel Critical\nBasicAuth agent %s\n"
                    "User root\nGroup root\n" % (port, PROXY_PASSWORD))
            if "connect_port" in proxy:
                f.write("ConnectPort %d\n" % proxy["connect_port"])
        with open(os.path.splitext(exe)[0] + ".ini", "w", newline="\r\n") as f:
            f.write("[Proxy]\nBasicAuthentication=1\nProxyServer=127.0.0.1\nProxyPort=%d\n"
                    "ProxyUsername=agent\nProxyPassword=%s\n" % (proxy.get("port", port),
                                                                 proxy.get("password", PROXY_PASSWORD)))
        process = subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        wait_port(port)
        return process


def peak_memory_mb(pid):
    """The peak resident memory of a running process (under Wine: the Windows program's)."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    raise AssertionError("no VmHWM for %d" % pid)


def snapshot(folder):
    """Names, sizes and contents under `folder`."""
    state = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(root, name)
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    state[os.path.relpath(path, folder)] = f.read()
            else:
                state[os.path.relpath(path, folder)] = "<dossier>"
    return state


def wait_for_text(path, text, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with open(path, encoding="utf-8", errors="replace") as f:
            if text in f.read():
                time.sleep(0.1)  # the rest of the message
                return
        time.sleep(0.05)
    raise AssertionError("no message shown")


def main():
    global ARGS, HOST
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--short-exe", required=True)
    parser.add_argument("--gateway-host", required=True)
    parser.add_argument("--report", help="writes the table as run, in markdown")
    parser.add_argument("--only", help="the rows to run, by name, comma-separated (default: all)")
    parser.add_argument("--hold-tool", help="hold_file.exe of the Windows build, for the held-file rows")
    ARGS, argv = start_whole_process_tests(parser, needs=("tinyproxy",))
    HOST = ARGS.gateway_host
    unittest.main(argv=argv)


if __name__ == "__main__":
    main()
