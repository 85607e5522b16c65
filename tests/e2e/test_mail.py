"""End to end: under --any-layout a mail's attachments come out under the
names the mail gives them (RFC 2231 and RFC 2047, any charset), made safe.
Python's email package writes the mails and reads the names independently.

Run: python3 test_mail.py [path/to/mimeunpack]
"""

import email
import email.header
import os
import sys
from email import policy
from email.mime.application import MIMEApplication
from email.mime.image import MIMEImage
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

import harness as h  # noqa: E402
from harness import progress, writing  # noqa: E402

PNG = b"\x89PNG\r\n\x1a\n" + bytes(range(256))
SMTP = policy.compat32.clone(linesep="\r\n", max_line_length=0)

# (how the name is written, Content-Type, the bytes, the file it gives); a
# name given as str is set raw, a tuple is RFC 2231-encoded by Python.
ATTACHMENTS = [
    (("disposition", ("utf-8", "", "zpr\u00e1va.pdf")), "application/pdf",
     b"%PDF-1.4 a\n", "zpr\u00e1va.pdf"),
    (("disposition-raw", "attachment;\r\n"
      " filename*0*=utf-8''%C5%BElu%C5%A5ou%C4%8Dk%C3%BD;\r\n"
      " filename*1*=%20k%C5%AF%C5%88.txt"), "application/octet-stream",
     b"kun\n", "\u017elu\u0165ou\u010dk\u00fd k\u016f\u0148.txt"),
    (("name", "=?utf-8?b?xb5sdcWlb3XEjWvDvS5wZGY=?="), "application/pdf",
     b"%PDF-1.4 b\n", "\u017elu\u0165ou\u010dk\u00fd.pdf"),
    (("disposition", ("iso-8859-2", "", "\u0161\u010d\u00ed\u0148.txt")),
     "text/plain", b"latin-2\n", "\u0161\u010d\u00ed\u0148.txt"),
    (("name", "=?iso-8859-2?q?p=F8=EDloha.csv?="), "text/csv", b"a,b\n",
     "p\u0159\u00edloha.csv"),
    (("disposition", ("utf-8", "", "zpr\u00e1va.pdf")), "application/pdf",
     b"%PDF-1.4 c\n", "zpr\u00e1va-2.pdf"),
    (("disposition", "../../etc/passwd"), "application/octet-stream",
     b"root\n", "..%2F..%2Fetc%2Fpasswd"),
    (("disposition", "/tmp/x.sh"), "application/octet-stream", b"x\n",
     "%2Ftmp%2Fx.sh"),
    (("disposition", ".."), "application/octet-stream", b"dots\n",
     "part-10.bin"),
]


def attachment(how, content_type, data):
    kind, value = how
    maintype, subtype = content_type.split("/")
    if kind == "name":
        part = MIMEApplication(data, subtype, name=value)
        part.replace_header("Content-Type",
                            '%s; name="%s"' % (content_type, value))
        return part
    part = MIMEApplication(data, subtype)
    part.replace_header("Content-Type", content_type)
    if kind == "disposition-raw":
        part["Content-Disposition"] = value
    else:
        part.add_header("Content-Disposition", "attachment", filename=value)
    return part


def mail():
    """A mail: a text body, then every attachment of the table."""
    message = MIMEMultipart()
    message["From"] = "odesilatel@example.org"
    message["Subject"] = "Prilohy"
    message.attach(MIMEText("Dobry den,\nv priloze.\n", "plain", "utf-8"))
    for how, content_type, data, _ in ATTACHMENTS:
        message.attach(attachment(how, content_type, data))
    return message.as_bytes(policy=SMTP)


def python_name(part):
    """The name Python's email package reads, RFC 2047 words decoded."""
    name = part.get_filename()
    if name and "=?" in name:
        name = str(email.header.make_header(email.header.decode_header(name)))
    return name


class Attachments(unittest.TestCase):

    def test_the_mail_says_what_the_table_says(self):
        # Guards the table: Python reads the names as the tool should.
        parts = [p for p in email.message_from_bytes(mail()).walk()
                 if not p.is_multipart()][1:]
        unsafe = {"../../etc/passwd", "/tmp/x.sh", ".."}
        for part, (_, _, data, name) in zip(parts, ATTACHMENTS):
            read = python_name(part)
            self.assertEqual(part.get_payload(decode=True), data)
            if read not in unsafe and not name.endswith("-2.pdf"):
                self.assertEqual(read, name)

    def test_attachments_under_their_own_names(self):
        files = {"part-1.txt": b"Dobry den,\nv priloze.\n"}
        for _, _, data, name in ATTACHMENTS:
            files[name] = data
        out = progress(1, "mail.eml") + b"".join(
            writing(name.encode(), 1) for name in files)
        r = h.run({"mail.eml": mail()}, args=["-a", "mail.eml"], conf=None)
        self.assertEqual(r.stdout, out)
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), files)

    def test_listing_and_offline_pages_use_the_names(self):
        message = MIMEMultipart("related")
        message.attach(MIMEText('<img src="cid:logo@example.org">', "html",
                                "utf-8"))
        image = MIMEImage(PNG, "png")
        image["Content-ID"] = "<logo@example.org>"
        image.add_header("Content-Disposition", "inline",
                         filename=("utf-8", "", "log\u00f3.png"))
        message.attach(image)
        arc = {"mail.eml": message.as_bytes(policy=SMTP)}
        r = h.run(arc, args=["-l", "-a", "mail.eml"], conf=None)
        self.assertIn(b"  base64            log\xc3\xb3.png\n", r.stdout)
        r = h.run(arc, args=["--offline", "-q", "mail.eml"], conf=None)
        self.assertEqual(r.status, 0)
        created = r.created()
        self.assertEqual(created["log\u00f3.png"], PNG)
        # The reference is a URL: its bytes beyond ASCII are escaped.
        self.assertEqual(created["part-1.html"], b'<img src="log%C3%B3.png">')


if __name__ == "__main__":
    h.main()
