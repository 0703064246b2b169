// SMTP server for the e-mail tests, on the npm package smtp-server (which offers
// PIPELINING). Listens on a free loopback port and prints "PORT <n>". Every message
// is appended to --out as one JSON line (envelope, logged-in user, data as hex),
// written before the 250 reply goes out.
'use strict';
const fs = require('fs');
const { SMTPServer } = require('smtp-server');

const args = { user: 'scandor', password: 'secret', noLogin: false, rejectSender: null };
for (let i = 2; i < process.argv.length; i++) {
    const a = process.argv[i];
    if (a === '--out') args.out = process.argv[++i];
    else if (a === '--user') args.user = process.argv[++i];
    else if (a === '--password') args.password = process.argv[++i];
    else if (a === '--no-login') args.noLogin = true;
    else if (a === '--reject-sender') args.rejectSender = process.argv[++i];
}

const server = new SMTPServer({
    name: 'scandor-test',
    disableReverseLookup: true,
    allowInsecureAuth: true,
    authOptional: true,
    authMethods: args.noLogin ? ['PLAIN'] : ['LOGIN', 'PLAIN'],
    logger: false,
    onAuth(auth, session, callback) {
        if (auth.username === args.user && auth.password === args.password) {
            return callback(null, { user: auth.username });
        }
        return callback(new Error('Invalid username or password'));
    },
    onMailFrom(address, session, callback) {
        if (address.address === args.rejectSender) {
            const err = new Error('Sender rejected');
            err.responseCode = 550;
            return callback(err);
        }
        return callback();
    },
    onData(stream, session, callback) {
        const chunks = [];
        stream.on('data', (c) => chunks.push(c));
        stream.on('end', () => {
            const record = {
                mail_from: session.envelope.mailFrom.address,
                rcpt_tos: session.envelope.rcptTo.map((r) => r.address),
                user: session.user || null,
                data_hex: Buffer.concat(chunks).toString('hex'),
            };
            fs.appendFileSync(args.out, JSON.stringify(record) + '\n');
            callback(null, 'OK queued');
        });
    },
});

server.listen(0, '127.0.0.1', () => {
    process.stdout.write('PORT ' + server.server.address().port + '\n');
});
process.on('SIGTERM', () => server.close(() => process.exit(0)));
