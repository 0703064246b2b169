"""SMTP server for the e-mail tests, on aiosmtpd (Debian's python3-aiosmtpd).

Listens on a free loopback port and prints "PORT <n>" once it accepts. Every message
it takes is appended to --out as one JSON line: envelope, the logged-in user (or
null) and the data as received (hex), written before the 250 reply goes out.
"""
import argparse
import asyncio
import json
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--user", default="scandor")
    ap.add_argument("--password", default="secret")
    ap.add_argument("--no-login", action="store_true", help="offer AUTH PLAIN only")
    ap.add_argument("--reject-sender", default=None)
    args = ap.parse_args()

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login.decode() == args.user
              and auth_data.password.decode() == args.password)
        return AuthResult(success=ok, handled=False, auth_data=auth_data)

    class Handler:
        async def handle_MAIL(self, server, session, envelope, address, mail_options):
            if address == args.reject_sender:
                return "550 5.7.1 Sender rejected"
            envelope.mail_from = address
            return "250 OK"

        async def handle_DATA(self, server, session, envelope):
            record = {
                "mail_from": envelope.mail_from,
                "rcpt_tos": envelope.rcpt_tos,
                "user": session.auth_data.login.decode() if session.authenticated else None,
                "data_hex": envelope.original_content.hex(),
            }
            with open(args.out, "a") as f:
                f.write(json.dumps(record) + "\n")
            return "250 OK queued"

    def factory():
        return SMTP(Handler(), hostname="scandor-test", auth_require_tls=False,
                    authenticator=authenticator,
                    auth_exclude_mechanism=["LOGIN"] if args.no_login else [])

    async def serve():
        server = await asyncio.get_running_loop().create_server(factory, "127.0.0.1", 0)
        print("PORT", server.sockets[0].getsockname()[1], flush=True)
        async with server:
            await server.serve_forever()

    asyncio.run(serve())


if __name__ == "__main__":
    sys.exit(main())
