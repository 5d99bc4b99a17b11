// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a small hand-made gallery laid out as norvo-cli lays one out (index
// pages in the folder, media pages in "source", renditions in
// "source/image", thumbnails in "preview", relative links), correct or with
// one chosen fault, so that the checker can be shown to catch each fault.
//
// Usage: node fake_gallery.mjs DEST PICTURE.jpg [FAULT]
// FAULT: bad-next, raw-caption, missing-image, link-outside, write-outside,
//        lost-index, empty-image, wrong-size
import fs from 'node:fs';
import path from 'node:path';

const [dest, picture, fault = ''] = process.argv.slice(2);
if (!dest || !picture) {
  process.stderr.write('usage: node fake_gallery.mjs DEST PICTURE.jpg [FAULT]\n');
  process.exit(2);
}
// Two index pages, the second part full: the checker learns the page size
// from the first index page.
const kItems = 6;
const kPerPage = 4;
const kCaptionItem = 3;
const kCaption = '<script>alert(1)</script>';
const pages = Math.ceil(kItems / kPerPage);
const escape = (t) => t.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
const indexName = (p) => `index${p === 1 ? '' : p}.htm`;
const range = (p) => `${(p - 1) * kPerPage + 1}-${Math.min(p * kPerPage, kItems)}`;
const names = Array.from({ length: kItems }, (_, i) => `photo_${i + 1}`);

fs.rmSync(dest, { recursive: true, force: true });
fs.mkdirSync(path.join(dest, 'source', 'image'), { recursive: true });
fs.mkdirSync(path.join(dest, 'preview'));

names.forEach((name, i) => {
  const item = i + 1;
  fs.copyFileSync(picture, path.join(dest, 'preview', `${name}.jpg`));
  fs.copyFileSync(picture, path.join(dest, 'source', 'image', `${name}.jpg`));
  let next = names[item % kItems];
  const previous = names[(item - 2 + kItems) % kItems];
  if (fault === 'bad-next' && item === 2) next = names[4];
  let caption = item === kCaptionItem ? kCaption : '';
  caption = fault === 'raw-caption' ? caption : escape(caption);
  let image = `<img src="image/${name}.jpg" alt="${name}" border="0" />`;
  if (fault === 'wrong-size' && item === 4) image = `<img src="image/${name}.jpg" alt="" width="640" height="480" />`;
  if (fault === 'missing-image' && item === 2) image = '<img src="image/missing.jpg" alt="" />';
  if (fault === 'empty-image' && item === 2) fs.writeFileSync(path.join(dest, 'source', 'image', `${name}.jpg`), '');
  const list = Array.from({ length: pages }, (_, p) =>
    `<a href="../${indexName(p + 1)}" target="_index">${range(p + 1)}</a>`).join(' | ');
  const index = indexName(Math.floor(i / kPerPage) + 1);
  fs.writeFileSync(path.join(dest, 'source', `${name}.htm`),
    `<html><head><title>Fake | ${item}.${kItems}</title></head><body>${list}<br>\r\n` +
    `<a href="${previous}.htm">previous</a> | <a href="../${index}">index</a>  | <a href="${next}.htm">next</a>\r\n` +
    `<table><tr><td></td><td align="right">${image}</td><td><b>Caption:</b><br>${caption}</td></tr></table>` +
    '</body></html>\r\n');
});

for (let p = 1; p <= pages; ++p) {
  const cells = names.slice((p - 1) * kPerPage, p * kPerPage).map((name) =>
    `<td><a href="source/${name}.htm"><img src="preview/${name}.jpg" alt="${name}" border="0" /></a></td>`).join('');
  let list = Array.from({ length: pages }, (_, q) =>
    q + 1 === p || (fault === 'lost-index' && q + 1 === 2) ? range(q + 1)
                                                          : `<a href="${indexName(q + 1)}" target="_self">${range(q + 1)}</a>`)
    .join(' | ');
  if (fault === 'link-outside' && p === 1) list += ' <a href="../elsewhere.htm">elsewhere</a>';
  fs.writeFileSync(path.join(dest, indexName(p)), `<html><body>${list}<table><tr>${cells}</tr></table></body></html>\r\n`);
}
if (fault === 'write-outside') fs.writeFileSync(path.join(path.dirname(path.resolve(dest)), '..evil.jpg'), 'x');
