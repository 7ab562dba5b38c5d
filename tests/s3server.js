// An S3 server for objectstores_test: npm's s3rver over FOLDER on 127.0.0.1 at a free port, which
// it prints on its first line; it ends when its standard input closes. s3rver takes any AWS
// Signature Version 4 of a key it knows without checking it, and serves every bucket to anyone:
// this checks each signature as S3 does, and refuses anonymous reads of buckets named
// private-*, as S3 does a bucket without a public policy. Its keys:
//   S3RVER / S3RVER            the uploader's
//   TESSARYREADER / se@cret/k+ a reader's
//   TESSARYTEMP / t3mp/secret  temporary, wants x-amz-security-token "tok3n"
// Run with NODE_PATH naming the node_modules folder that holds s3rver.
'use strict';

const crypto = require('crypto');
const S3rver = require('s3rver');
const { DUMMY_ACCOUNT } = require('s3rver/lib/models/account');

const secrets = { S3RVER: 'S3RVER', TESSARYREADER: 'se@cret/k+', TESSARYTEMP: 't3mp/secret' };
const tokens = { TESSARYTEMP: 'tok3n' };
for (const [key, secret] of Object.entries(secrets)) DUMMY_ACCOUNT.createKeyPair(key, secret);

const hmac = (key, text) => crypto.createHmac('sha256', key).update(text).digest();
const sha256 = text => crypto.createHash('sha256').update(text).digest('hex');

// The query as SigV4 canonicalises it: each name and value encoded as RFC 3986 wants, sorted.
function canonicalQuery(query) {
  const encode = text =>
    encodeURIComponent(decodeURIComponent(text.replace(/\+/g, ' '))).replace(
      /[!'()*]/g,
      c => '%' + c.charCodeAt(0).toString(16).toUpperCase(),
    );
  return query
    .split('&')
    .filter(Boolean)
    .map(part => {
      const [name, value = ''] = part.split('=');
      return encode(name) + '=' + encode(value);
    })
    .sort()
    .join('&');
}

// The reason a request's Authorization header does not hold, or '' when it does.
function signatureFault(req) {
  const match = /^AWS4-HMAC-SHA256 Credential=([^/]+)\/([^,]+), ?SignedHeaders=([^,]+), ?Signature=([0-9a-f]+)$/.exec(
    req.headers.authorization,
  );
  if (!match) return 'AuthorizationHeaderMalformed';
  const [, key, scope, signedHeaders, signature] = match;
  if (!(key in secrets)) return 'InvalidAccessKeyId';
  if (key in tokens && req.headers['x-amz-security-token'] !== tokens[key])
    return 'InvalidToken';
  const [path, query = ''] = req.url.split('?');
  const headers = signedHeaders
    .split(';')
    .map(name => name + ':' + String(req.headers[name] || '').trim().replace(/\s+/g, ' ') + '\n');
  const canonical = [req.method, path, canonicalQuery(query), headers.join(''), signedHeaders,
    req.headers['x-amz-content-sha256'] || ''].join('\n');
  const toSign = ['AWS4-HMAC-SHA256', req.headers['x-amz-date'], scope, sha256(canonical)].join('\n');
  const [date, region, service, ending] = scope.split('/');
  let signing = hmac('AWS4' + secrets[key], date);
  for (const part of [region, service, ending]) signing = hmac(signing, part);
  return hmac(signing, toSign).toString('hex') === signature ? '' : 'SignatureDoesNotMatch';
}

async function checkAccess(ctx, next) {
  const fault = ctx.headers.authorization
    ? signatureFault(ctx.req)
    : /^\/private-/.test(ctx.path) ? 'AccessDenied' : '';
  if (!fault) return next();
  ctx.status = 403;
  ctx.type = 'application/xml';
  ctx.body = `<?xml version="1.0" encoding="UTF-8"?><Error><Code>${fault}</Code></Error>`;
}

const server = new S3rver({ address: '127.0.0.1', port: 0, silent: true, directory: process.argv[2] });
server.middleware.unshift(checkAccess);
server.run().then(({ port }) => {
  console.log(port);
  process.stdin.on('end', () => process.exit(0)).resume();
});
