// SPDX-License-Identifier: GPL-3.0-or-later
// Opens a generated web gallery in headless Chromium and checks it as a
// visitor would meet it:
//   - every link (a href) and every image, embed or source address resolves
//     to an existing file inside the gallery folder;
//   - every image loads (naturalWidth > 0) at the width and height the page
//     gives it, and no request fails;
//   - the page list of the first index page reaches every index page;
//   - the thumbnails of the index pages link to every media page, once each;
//   - "next" from the first media page walks every media page in that order
//     and wraps back to the first; "previous" walks them backwards;
//   - expected texts (such as a caption holding markup) are visible as text,
//     no script element of the page came from catalog text, and no dialog
//     opens;
//   - with a snapshot taken before the gallery was made, no file outside the
//     gallery folder was added or changed.
//
// Usage:
//   node check_gallery.mjs snapshot OUT.json DIR...
//   node check_gallery.mjs check DEST [--snapshot OUT.json] [--items N]
//        [--expect-text TEXT]... [--index NAME] [--chromium PATH]
// Exits 0 when every check passes, 1 with one line per fault otherwise, 2 on
// a wrong command line.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const kNavigationTimeoutMs = 30000;
// Files a walk reads at most, so that a wrong directory cannot run forever.
const kMaxWalkedFiles = 200000;
// Steps the next / previous walks take at most beyond the item count.
const kWalkSlack = 2;

function usage(message) {
  process.stderr.write(`check_gallery: ${message}\n`);
  process.stderr.write('usage: node check_gallery.mjs snapshot OUT.json DIR...\n' +
                       '       node check_gallery.mjs check DEST [--snapshot OUT.json] [--items N] ' +
                       '[--expect-text TEXT]... [--index NAME] [--chromium PATH]\n');
  process.exit(2);
}

// Every file and symbolic link under `roots`: path -> "size:mtime" (links:
// "link:target"). Folders themselves are not listed; files inside are.
function walk(roots) {
  const found = new Map();
  const pending = roots.map((r) => path.resolve(r));
  while (pending.length > 0) {
    const dir = pending.pop();
    let entries;
    try {
      entries = fs.readdirSync(dir, { withFileTypes: true });
    } catch {
      continue;  // vanished or unreadable: nothing of ours is in it
    }
    for (const entry of entries) {
      const full = path.join(dir, entry.name);
      if (entry.isSymbolicLink()) {
        found.set(full, `link:${fs.readlinkSync(full)}`);
      } else if (entry.isDirectory()) {
        pending.push(full);
      } else {
        try {
          const st = fs.statSync(full);
          found.set(full, `${st.size}:${st.mtimeMs}`);
        } catch {
          // removed between listing and stat
        }
      }
      if (found.size > kMaxWalkedFiles) throw new Error(`more than ${kMaxWalkedFiles} files under ${roots.join(', ')}`);
    }
  }
  return found;
}

function isInside(folder, candidate) {
  const rel = path.relative(folder, candidate);
  return rel === '' || (!rel.startsWith('..') && !path.isAbsolute(rel));
}

function takeSnapshot(out, dirs) {
  if (dirs.length === 0) usage('snapshot needs at least one folder');
  const files = walk(dirs);
  fs.writeFileSync(out, JSON.stringify({ roots: dirs.map((d) => path.resolve(d)), files: [...files] }));
}

function parseCheckArgs(argv) {
  const options = { dest: null, snapshot: null, items: null, expectTexts: [], index: 'index.htm',
                    chromium: process.env.NORVO_CHROMIUM || '/usr/bin/chromium' };
  for (let i = 0; i < argv.length; ++i) {
    const arg = argv[i];
    const value = () => {
      if (i + 1 >= argv.length) usage(`${arg} needs a value`);
      return argv[++i];
    };
    if (arg === '--snapshot') options.snapshot = value();
    else if (arg === '--items') options.items = Number.parseInt(value(), 10);
    else if (arg === '--expect-text') options.expectTexts.push(value());
    else if (arg === '--index') options.index = value();
    else if (arg === '--chromium') options.chromium = value();
    else if (arg.startsWith('--')) usage(`unknown option ${arg}`);
    else if (options.dest === null) options.dest = arg;
    else usage(`unexpected argument ${arg}`);
  }
  if (options.dest === null) usage('check needs the gallery folder');
  if (options.items !== null && !(options.items > 0)) usage('--items needs a positive number');
  return options;
}

class Checker {
  constructor(dest, options) {
    this.dest = fs.realpathSync(dest);
    this.options = options;
    this.faults = [];
    this.dialogs = [];
    this.failedRequests = [];
    this.texts = new Map();  // page path -> visible text
  }

  fault(message) {
    this.faults.push(message);
  }

  rel(file) {
    return path.relative(this.dest, file) || '.';
  }

  // The file an address names, or null (with a fault) when it is not an
  // existing file inside the gallery.
  resolveTarget(pageFile, attribute, raw, absolute) {
    let url;
    try {
      url = new URL(absolute);
    } catch {
      this.fault(`${this.rel(pageFile)}: ${attribute}="${raw}" is not a valid address`);
      return null;
    }
    if (url.protocol !== 'file:') {
      this.fault(`${this.rel(pageFile)}: ${attribute}="${raw}" leaves the gallery (${url.protocol} address)`);
      return null;
    }
    const file = fileURLToPath(url);
    if (!isInside(this.dest, file)) {
      this.fault(`${this.rel(pageFile)}: ${attribute}="${raw}" points outside the gallery folder (${file})`);
      return null;
    }
    let st;
    try {
      st = fs.statSync(file);
    } catch {
      this.fault(`${this.rel(pageFile)}: ${attribute}="${raw}" names a missing file (${this.rel(file)})`);
      return null;
    }
    if (!st.isFile()) {
      this.fault(`${this.rel(pageFile)}: ${attribute}="${raw}" is not a file (${this.rel(file)})`);
      return null;
    }
    const real = fs.realpathSync(file);
    if (!isInside(this.dest, real)) {
      this.fault(`${this.rel(pageFile)}: ${attribute}="${raw}" is a link to ${real}, outside the gallery`);
      return null;
    }
    return file;
  }

  async open(page, file) {
    const failedBefore = this.failedRequests.length;
    try {
      await page.goto(pathToFileURL(file).href, { waitUntil: 'load', timeout: kNavigationTimeoutMs });
    } catch (error) {
      this.fault(`${this.rel(file)}: does not open (${error.message.split('\n')[0]})`);
      return null;
    }
    for (const failed of this.failedRequests.slice(failedBefore)) {
      this.fault(`${this.rel(file)}: request for ${failed} failed`);
    }
    return this.inspect(page, file);
  }

  // Links, images and text of the page now shown.
  async inspect(page, file) {
    const facts = await page.evaluate(() => {
      const links = [...document.querySelectorAll('a[href]')].map((a) => ({
        raw: a.getAttribute('href'), absolute: a.href, text: a.textContent.trim(),
        thumbnail: a.querySelector('img') !== null,
      }));
      const sources = [];
      for (const el of document.querySelectorAll('img[src], embed[src], source[src], video[src], audio[src]')) {
        sources.push({ tag: el.tagName.toLowerCase(), raw: el.getAttribute('src'), absolute: el.src });
      }
      const images = [...document.images].map((img) => ({
        raw: img.getAttribute('src'), complete: img.complete, naturalWidth: img.naturalWidth,
        naturalHeight: img.naturalHeight, width: img.getAttribute('width'), height: img.getAttribute('height'),
      }));
      const scripts = [...document.scripts].map((s) => s.textContent);
      return { links, sources, images, scripts, text: document.body ? document.body.innerText : '' };
    });
    for (const link of facts.links) link.file = this.resolveTarget(file, 'href', link.raw, link.absolute);
    for (const source of facts.sources) this.resolveTarget(file, `<${source.tag}> src`, source.raw, source.absolute);
    for (const image of facts.images) {
      if (!image.complete || image.naturalWidth <= 0) {
        this.fault(`${this.rel(file)}: image "${image.raw}" does not load (naturalWidth ${image.naturalWidth})`);
        continue;
      }
      // The size the page gives a picture is the size it was made at; a
      // mismatch shows it stretched. (Preloads are asked for at 1 x 1.)
      const preload = image.width === '1' && image.height === '1';
      if (!preload && ((image.width !== null && Number(image.width) !== image.naturalWidth) ||
                       (image.height !== null && Number(image.height) !== image.naturalHeight))) {
        this.fault(`${this.rel(file)}: image "${image.raw}" is ${image.naturalWidth} x ${image.naturalHeight} ` +
                   `but the page shows it at ${image.width ?? 'auto'} x ${image.height ?? 'auto'}`);
      }
    }
    for (const script of facts.scripts) {
      if (script.includes('alert(')) this.fault(`${this.rel(file)}: catalog text became a script element: ${script}`);
    }
    this.texts.set(file, facts.text);
    return facts;
  }

  // The page the link whose whole text is `word` leads to, or null.
  followWord(facts, file, word) {
    const matches = facts.links.filter((l) => l.text.toLowerCase() === word);
    if (matches.length !== 1) {
      this.fault(`${this.rel(file)}: ${matches.length} links read "${word}" (want 1)`);
      return null;
    }
    return matches[0].file;
  }

  async run(chromium) {
    const first = path.join(this.dest, this.options.index);
    if (!fs.existsSync(first)) {
      this.fault(`no first index page ${this.options.index} in ${this.dest}`);
      return;
    }
    const browser = await chromium.launch({
      executablePath: this.options.chromium,
      headless: true,
      // Keep Chromium off the network: the machines running this have none.
      args: ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
             '--disable-component-update', '--disable-sync'],
    });
    try {
      const context = await browser.newContext();
      const watch = (p) => {
        p.on('dialog', async (dialog) => {
          this.dialogs.push(`${dialog.type()} "${dialog.message()}" on ${p.url()}`);
          await dialog.dismiss().catch(() => {});
        });
        p.on('requestfailed', (request) => {
          this.failedRequests.push(`${request.url()} (${request.failure()?.errorText ?? 'failed'})`);
        });
      };
      context.on('page', watch);
      const page = await context.newPage();
      await this.checkSite(page);
      for (const d of this.dialogs) this.fault(`a dialog opened: ${d}`);
    } finally {
      await browser.close();
    }
  }

  async checkSite(page) {
    const ext = path.extname(this.options.index);
    const firstIndex = path.join(this.dest, this.options.index);

    // Index pages: follow every link between index pages from the first one.
    const indexPages = [];
    const indexFacts = new Map();
    const queue = [firstIndex];
    const seen = new Set(queue);
    while (queue.length > 0) {
      const file = queue.shift();
      const facts = await this.open(page, file);
      if (facts === null) continue;
      indexPages.push(file);
      indexFacts.set(file, facts);
      for (const link of facts.links) {
        if (link.file && path.dirname(link.file) === this.dest && /^index\d*$/.test(path.basename(link.file, ext)) &&
            !seen.has(link.file)) {
          seen.add(link.file);
          queue.push(link.file);
        }
      }
    }
    const onDisk = fs.readdirSync(this.dest).filter((n) => new RegExp(`^index\\d*\\${ext}$`).test(n))
      .map((n) => path.join(this.dest, n));
    for (const file of onDisk) {
      if (!seen.has(file)) this.fault(`index page ${this.rel(file)} is not reached from the page list`);
    }
    // Index pages numbered 1, 2, ... without a gap.
    const numbers = onDisk.map((f) => Number(path.basename(f, ext).slice(5) || '1')).sort((a, b) => a - b);
    numbers.forEach((n, i) => {
      if (n !== i + 1) this.fault(`index pages are not numbered 1..${numbers.length}: ${numbers.join(', ')}`);
    });

    // Media pages in the order the index pages show their thumbnails.
    const mediaPages = [];
    const ordered = indexPages.slice().sort((a, b) => {
      const n = (f) => Number(path.basename(f, ext).slice(5) || '1');
      return n(a) - n(b);
    });
    for (const file of ordered) {
      for (const link of indexFacts.get(file).links) {
        if (link.thumbnail && link.file) mediaPages.push(link.file);
      }
    }
    const distinct = new Set(mediaPages);
    if (distinct.size !== mediaPages.length) this.fault('some media page is linked from more than one thumbnail');
    if (this.options.items !== null && distinct.size !== this.options.items) {
      this.fault(`the index pages show ${distinct.size} thumbnails linking to media pages, want ${this.options.items}`);
    }
    if (mediaPages.length === 0) {
      this.fault('no thumbnail on the index pages links to a media page');
      return;
    }
    const mediaFolder = path.join(this.dest, 'source');
    for (const file of mediaPages) {
      if (path.dirname(file) !== mediaFolder) this.fault(`media page ${this.rel(file)} is not in the source folder`);
    }
    const mediaOnDisk = fs.readdirSync(mediaFolder).filter((n) => n.endsWith(ext)).map((n) => path.join(mediaFolder, n));
    for (const file of mediaOnDisk) {
      if (!distinct.has(file)) this.fault(`media page ${this.rel(file)} has no thumbnail on any index page`);
    }

    // The next / previous walks; the pages the "next" walk shows are
    // inspected on the way, and any it missed are opened afterwards.
    const mediaFacts = new Map();
    await this.walkByWord(page, mediaPages, 'next', 1, mediaFacts);
    for (const file of mediaPages) {
      if (mediaFacts.has(file)) continue;
      const facts = await this.open(page, file);
      if (facts !== null) mediaFacts.set(file, facts);
    }
    await this.walkByWord(page, mediaPages, 'previous', -1, null);

    // A media page's "index" link leads to the index page showing its thumbnail.
    const perPage = indexFacts.get(firstIndex)?.links.filter((l) => l.thumbnail).length ?? 0;
    mediaPages.forEach((file, i) => {
      const facts = mediaFacts.get(file);
      if (!facts || perPage === 0) return;
      const target = this.followWord(facts, file, 'index');
      const want = ordered[Math.floor(i / perPage)];
      if (target && want && target !== want) {
        this.fault(`${this.rel(file)}: "index" leads to ${this.rel(target)}, want ${this.rel(want)}`);
      }
    });

    for (const text of this.options.expectTexts) {
      const where = [...this.texts].filter(([, t]) => t.includes(text)).map(([f]) => this.rel(f));
      if (where.length === 0) this.fault(`no page shows the text ${JSON.stringify(text)}`);
    }
  }

  // Clicks the link reading `word` from the first media page on, and checks
  // that it visits the pages in `order` (step +1 or -1) and comes back.
  // With `inspected`, every page shown is inspected once and its facts kept
  // there.
  async walkByWord(page, order, word, step, inspected) {
    const count = order.length;
    let current = order[0];
    const facts = await this.open(page, current);
    if (facts === null) return;
    if (inspected) inspected.set(current, facts);
    for (let taken = 1; taken <= count + kWalkSlack; ++taken) {
      const want = order[(((taken * step) % count) + count) % count];
      const links = page.locator('a[href]').filter({ hasText: new RegExp(`^\\s*${word}\\s*$`, 'i') });
      if ((await links.count()) !== 1) {
        this.fault(`${this.rel(current)}: ${await links.count()} links read "${word}" (want 1)`);
        return;
      }
      const failedBefore = this.failedRequests.length;
      try {
        await Promise.all([page.waitForURL((u) => u.href !== pathToFileURL(current).href,
                                           { timeout: kNavigationTimeoutMs }),
                           links.first().click()]);
        await page.waitForLoadState('load');
      } catch (error) {
        this.fault(`${this.rel(current)}: clicking "${word}" goes nowhere (${error.message.split('\n')[0]})`);
        return;
      }
      const reached = fileURLToPath(page.url());
      if (reached !== want) {
        this.fault(`"${word}" from ${this.rel(current)} leads to ${this.rel(reached)}, want ${this.rel(want)}`);
        return;
      }
      current = reached;
      if (inspected && !inspected.has(current)) {
        for (const failed of this.failedRequests.slice(failedBefore)) {
          this.fault(`${this.rel(current)}: request for ${failed} failed`);
        }
        inspected.set(current, await this.inspect(page, current));
      }
      if (current === order[0]) {
        if (taken !== count) this.fault(`"${word}" came back to the first media page after ${taken} steps, want ${count}`);
        return;
      }
    }
    this.fault(`"${word}" never comes back to the first media page`);
  }

  // Files added or changed outside the gallery since the snapshot.
  compareSnapshot(snapshotFile) {
    const before = JSON.parse(fs.readFileSync(snapshotFile, 'utf8'));
    const old = new Map(before.files);
    const now = walk(before.roots);
    for (const [file, stamp] of now) {
      if (isInside(this.dest, file)) continue;
      if (!old.has(file)) this.fault(`a file was written outside the gallery: ${file}`);
      else if (old.get(file) !== stamp) this.fault(`a file outside the gallery was changed: ${file}`);
    }
    for (const file of old.keys()) {
      if (!isInside(this.dest, file) && !now.has(file)) this.fault(`a file outside the gallery was removed: ${file}`);
    }
  }
}

async function check(argv) {
  const options = parseCheckArgs(argv);
  if (!fs.existsSync(options.dest) || !fs.statSync(options.dest).isDirectory()) {
    process.stderr.write(`check_gallery: FAIL: no gallery folder ${options.dest}\n`);
    return 1;
  }
  const { chromium } = await import('playwright-core');
  const checker = new Checker(options.dest, options);
  // Walked before the browser starts: Chromium keeps files of its own in the
  // user's folders.
  if (options.snapshot) checker.compareSnapshot(options.snapshot);
  await checker.run(chromium);
  if (checker.faults.length > 0) {
    for (const f of checker.faults) process.stderr.write(`check_gallery: FAIL: ${f}\n`);
    process.stderr.write(`check_gallery: ${checker.faults.length} fault(s) in ${checker.dest}\n`);
    return 1;
  }
  process.stdout.write(`check_gallery: ${checker.dest}: ${checker.texts.size} pages, every check passed\n`);
  return 0;
}

const [command, ...rest] = process.argv.slice(2);
if (command === 'snapshot') {
  if (rest.length < 1) usage('snapshot needs OUT.json');
  takeSnapshot(rest[0], rest.slice(1));
} else if (command === 'check') {
  process.exitCode = await check(rest);
} else {
  usage('the first argument is snapshot or check');
}
