#!/usr/bin/env python3
# voskeld's alert mail, an example: copy it, and voskeldemail.conf beside it,
# into the site folder that voskeld(8) names under MAIL, owned by root. It
# sends one message through the SMTP server that voskeldemail.conf names:
# the host, the time, and the RAID sets as diskutil lists them now.
# Written for every Python from 10.5's 2.5 to today's 3: no "with", no
# "except ... as", no b"" and no str.format.
import os
import signal
import smtplib
import socket
import subprocess
import sys
import time
from email.utils import formatdate

LISTING_SECONDS = 30
SMTP_SECONDS = 60


class Timeout(Exception):
    pass


def on_alarm(number, frame):
    raise Timeout()


def read_settings(path):
    settings = {"port": "25", "from": "voskeld@" + socket.gethostname()}
    conf = open(path)
    try:
        for line in conf.readlines():
            line = line.strip()
            if line and not line.startswith("#") and "=" in line:
                key, value = line.split("=", 1)
                settings[key.strip()] = value.strip()
    finally:
        conf.close()
    for key in ("server", "to"):
        if not settings.get(key):
            raise ValueError("%s names no %s" % (path, key))
    return settings


def raid_listing():
    """diskutil's listing, or why there is none: a disk utility stuck on a
    failing disk must not keep the mail from going out."""
    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(LISTING_SECONDS)
    child = None
    try:
        try:
            child = subprocess.Popen(["diskutil", "appleRAID", "list"],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            text = child.communicate()[0]
        except Timeout:
            os.kill(child.pid, signal.SIGKILL)
            child.wait()
            return "(diskutil gave no answer within %d seconds)\n" % LISTING_SECONDS
        except OSError:
            return "(diskutil could not run: %s)\n" % sys.exc_info()[1]
    finally:
        signal.alarm(0)
    if not isinstance(text, str):
        text = text.decode("utf-8", "replace")
    return text


def message(settings, host):
    body = ("voskeld on %s found a RAID member missing or damaged, or a RAID set failed, at %s.\n\n"
            "The RAID sets as diskutil lists them now:\n\n%s" % (host, time.ctime(), raid_listing()))
    text = ("From: %s\nTo: %s\nSubject: voskeld: RAID ERROR on %s\nDate: %s\nMIME-Version: 1.0\n"
            "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n%s"
            % (settings["from"], settings["to"], host, formatdate(localtime=True), body))
    text = text.replace("\n", "\r\n")
    if sys.version_info[0] >= 3:
        return text.encode("utf-8")
    return text


def send(settings, data):
    socket.setdefaulttimeout(SMTP_SECONDS)
    server = smtplib.SMTP(settings["server"], int(settings["port"]))
    try:
        if settings.get("starttls") == "yes":
            server.ehlo()
            server.starttls()
            server.ehlo()
        if settings.get("user"):
            server.login(settings["user"], settings.get("password", ""))
        recipients = [to.strip() for to in settings["to"].split(",")]
        server.sendmail(settings["from"], recipients, data)
    finally:
        server.quit()


def main():
    conf = os.path.join(os.path.dirname(os.path.abspath(sys.argv[0])), "voskeldemail.conf")
    try:
        settings = read_settings(conf)
        send(settings, message(settings, socket.gethostname()))
    except Exception:
        sys.stderr.write("voskeldemail.py: no alert mail sent: %s\n" % sys.exc_info()[1])
        return 1
    sys.stderr.write("voskeldemail.py: alert mail sent to %s through %s\n" % (settings["to"], settings["server"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
