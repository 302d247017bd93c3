#!/usr/bin/env python3
"""Prints messages that smtp_sink.py kept: the envelope, the main headers
decoded, and the body decoded from its charset. Usage: show_mail.py N.eml..."""
import email
import email.header
import json
import sys

for path in sys.argv[1:]:
    with open(path[:-4] + ".json") as f:
        envelope = json.load(f)
    print("  envelope: MAIL FROM %s, RCPT TO %s, AUTH %s" % (
        envelope["mail_from"], ", ".join(envelope["rcpt_to"]),
        envelope["auth"]["user"] if envelope["auth"] else "none"))
    with open(path, "rb") as f:
        message = email.message_from_binary_file(f)
    for name in ("From", "To", "Subject", "Content-Type", "X-Priority"):
        if message[name] is not None:
            print("    %s: %s" % (name, email.header.make_header(email.header.decode_header(message[name]))))
    charset = message.get_content_charset() or "ascii"
    print("    " + message.get_payload(decode=True).decode(charset, "replace").rstrip().replace("\n", "\n    "))
