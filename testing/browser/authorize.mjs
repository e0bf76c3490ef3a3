// Plays the user on Plinth's authorize page in a real browser: Debian's chromium, headless, with a
// fresh profile, driven by puppeteer-core (no browser is ever downloaded).
//   node authorize.mjs URL USER PASSWORD allow|deny
// Opens URL, fills in the user name and password, presses Allow or Deny and follows the redirect
// back to the application's loopback page, whose heading it prints. Exits 0 when that page came,
// 1 when anything else happened, 77 when chromium cannot start here (the caller skips).
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import puppeteer from 'puppeteer-core';

const [url, user, password, decision] = process.argv.slice(2);
if (!url || !user || password === undefined || !['allow', 'deny'].includes(decision)) {
  console.error('usage: node authorize.mjs URL USER PASSWORD allow|deny');
  process.exit(2);
}

const profile = mkdtempSync(join(tmpdir(), 'marigold-chromium-'));
let browser;
try {
  browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    // The simulator's certificate comes from its own throw-away authority on 127.0.0.1.
    acceptInsecureCerts: true,
    timeout: 30000,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           `--user-data-dir=${profile}`],
  });
} catch (error) {
  console.error(`chromium cannot start: ${error.message.split('\n')[0]}`);
  rmSync(profile, { recursive: true, force: true });
  process.exit(77);
}

let status = 1;
try {
  const page = await browser.newPage();
  page.setDefaultTimeout(20000);
  await page.goto(url, { waitUntil: 'domcontentloaded' });
  await page.type('#user', user);
  await page.type('#password', password);
  await Promise.all([page.waitForNavigation({ waitUntil: 'domcontentloaded' }),
                     page.click(decision === 'allow' ? '#allow' : '#deny')]);
  const heading = await page.$eval('h1', (h) => h.textContent);
  console.log(`${page.url().split('?')[0]} ${heading}`);
  status = page.url().startsWith('http://127.0.0.1:') ? 0 : 1;
} catch (error) {
  console.error(`the authorize page could not be worked: ${error.message}`);
} finally {
  await browser.close();
  rmSync(profile, { recursive: true, force: true });
}
process.exit(status);
