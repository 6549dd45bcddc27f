#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Makes the certificates the TLS delivery tests use, fresh for each run, so
that no private key lives in the repository.

Writes into DIR:
  ca.pem                    a CA of the test's own
  server.pem, server.key    for 127.0.0.1 and localhost, signed by the CA
  self.pem, self.key        for 127.0.0.1 and localhost, signed by itself
  client.pem, client.key    a client certificate (CN "ann"), signed by the CA
  client-both.pem           the client certificate and its key in one file
  fingerprints.json         {"server": ..., "self": ...}: SHA-256 of each
                            certificate's DER, as AB:CD:... (32 bytes)

Usage: make_certs.py DIR
"""
import datetime
import ipaddress
import json
import os
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID


def name(common):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common)])


def certificate(subject, key, issuer, issuer_key, ca=False, server=False, client=False):
    now = datetime.datetime.utcnow()
    builder = (x509.CertificateBuilder()
               .subject_name(name(subject)).issuer_name(name(issuer))
               .public_key(key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(now - datetime.timedelta(days=1))
               .not_valid_after(now + datetime.timedelta(days=30))
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if server:
        builder = builder.add_extension(x509.SubjectAlternativeName(
            [x509.DNSName("localhost"), x509.IPAddress(ipaddress.ip_address("127.0.0.1"))]),
            critical=False)
        builder = builder.add_extension(
            x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), critical=False)
    if client:
        builder = builder.add_extension(
            x509.ExtendedKeyUsage([ExtendedKeyUsageOID.CLIENT_AUTH]), critical=False)
    return builder.sign(issuer_key, hashes.SHA256())


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, 0o600)


def pem_key(key):
    return key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                             serialization.NoEncryption())


def fingerprint(cert):
    return ":".join("%02X" % b for b in cert.fingerprint(hashes.SHA256()))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    ca_key = ec.generate_private_key(ec.SECP256R1())
    ca = certificate("Test CA", ca_key, "Test CA", ca_key, ca=True)
    server_key = ec.generate_private_key(ec.SECP256R1())
    server = certificate("127.0.0.1", server_key, "Test CA", ca_key, server=True)
    self_key = ec.generate_private_key(ec.SECP256R1())
    self_signed = certificate("127.0.0.1", self_key, "127.0.0.1", self_key, server=True)
    client_key = ec.generate_private_key(ec.SECP256R1())
    client = certificate("ann", client_key, "Test CA", ca_key, client=True)
    pem = serialization.Encoding.PEM
    write(os.path.join(out, "ca.pem"), ca.public_bytes(pem))
    write(os.path.join(out, "server.pem"), server.public_bytes(pem))
    write(os.path.join(out, "server.key"), pem_key(server_key))
    write(os.path.join(out, "self.pem"), self_signed.public_bytes(pem))
    write(os.path.join(out, "self.key"), pem_key(self_key))
    write(os.path.join(out, "client.pem"), client.public_bytes(pem))
    write(os.path.join(out, "client.key"), pem_key(client_key))
    write(os.path.join(out, "client-both.pem"), client.public_bytes(pem) + pem_key(client_key))
    with open(os.path.join(out, "fingerprints.json"), "w", encoding="ascii") as f:
        json.dump({"server": fingerprint(server), "self": fingerprint(self_signed)}, f)


if __name__ == "__main__":
    main()
