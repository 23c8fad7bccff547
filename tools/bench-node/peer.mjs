// Parses a multipart body from standard input with busboy and prints the MD5
// of the file field "img": what the upload decoder and its digest do.
import busboy from 'busboy';
import crypto from 'node:crypto';

const bb = busboy({ headers: { 'content-type': process.env.CONTENT_TYPE } });
bb.on('file', (name, stream) => {
  const hash = crypto.createHash('md5');
  stream.on('data', (chunk) => hash.update(chunk));
  stream.on('end', () => {
    if (name === 'img') process.stdout.write(hash.digest('hex') + '\n');
  });
});
process.stdin.pipe(bb);
