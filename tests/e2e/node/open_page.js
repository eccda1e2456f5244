// Opens a page vxlconv wrote in headless Chromium, offline, and acts on it as
// a person would: the first picture, a left drag, space, a right drag, the
// wheel, space again, each picture saved as a PNG file. Every request other
// than file:, data: and blob: is refused and counted.
//
//   node open_page.js CHROMIUM PAGE.html OUTDIR WIDTH HEIGHT [measure]
//
// Prints one JSON line: the console errors and uncaught exceptions, the
// refused requests, the label's text and box, the picture files, and the
// seconds from navigation to the first picture. With "measure" (the
// benchmark) it takes only the first picture, then times the frames of a
// left drag: dragFrameSeconds, each step's move to its frame drawn.
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");
const { chromium } = require("playwright-core");

const [chromiumPath, page, outDir, widthText, heightText, mode] = process.argv.slice(2);
const width = Number(widthText), height = Number(heightText);
const deadline = 120000;

async function main() {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), "voxscope-chromium-"));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: chromiumPath,
        headless: true,
        viewport: { width, height },
        deviceScaleFactor: 1,
        offline: true,
        timeout: deadline,
        args: ["--headless", "--no-sandbox", "--disable-gpu", "--use-gl=angle", "--use-angle=swiftshader",
               "--enable-unsafe-swiftshader", "--no-first-run", "--disable-background-networking",
               "--disable-component-update", "--disable-sync"],
    });
    const result = { errors: [], refused: [], shots: {} };
    try {
        await context.route("**/*", (route) => {
            const url = route.request().url();
            if (/^(file|data|blob):/.test(url)) return route.continue();
            result.refused.push(url);
            return route.abort();
        });
        const tab = context.pages()[0] || (await context.newPage());
        tab.on("console", (message) => {
            if (message.type() === "error") result.errors.push(message.text());
        });
        tab.on("pageerror", (error) => result.errors.push(String(error)));
        tab.on("requestfailed", (request) => {
            if (!/^(file|data|blob):/.test(request.url())) return;
            result.errors.push("failed: " + request.url());
        });

        const started = Date.now();
        await tab.goto("file://" + path.resolve(page), { timeout: deadline });
        await tab.waitForFunction(() => window.voxelView && (window.voxelView.error ||
                                        (window.voxelView.ready && window.voxelView.frames > 0)),
                                  null, { timeout: deadline });
        result.firstPictureSeconds = (Date.now() - started) / 1000;
        result.pageError = await tab.evaluate(() => window.voxelView.error);
        const label = await tab.$("#label");
        result.label = await label.textContent();
        result.labelBox = await label.boundingBox();
        result.title = await tab.title();

        async function shot(name) {
            const file = path.join(outDir, name + ".png");
            await tab.screenshot({ path: file });
            result.shots[name] = file;
        }
        // Waits until the page has drawn after what was just done.
        async function drawn(before) {
            await tab.waitForFunction((n) => window.voxelView.frames > n, before, { timeout: deadline });
        }
        const frames = () => tab.evaluate(() => window.voxelView.frames);
        async function dragWith(button, dx, dy) {
            const before = await frames();
            await tab.mouse.move(width / 2, height / 2);
            await tab.mouse.down({ button });
            await tab.mouse.move(width / 2 + dx, height / 2 + dy, { steps: 8 });
            await tab.mouse.up({ button });
            await drawn(before);
        }
        async function press(key) {
            const before = await frames();
            await tab.keyboard.press(key);
            await drawn(before);
        }

        await shot("first");
        if (mode === "measure" && !result.pageError) {
            result.dragFrameSeconds = [];
            await tab.mouse.move(width / 2, height / 2);
            await tab.mouse.down();
            for (let step = 1; step <= 20; ++step) {
                const before = await frames(), start = Date.now();
                await tab.mouse.move(width / 2 + 5 * step, height / 2 + 2 * step);
                await drawn(before);
                result.dragFrameSeconds.push((Date.now() - start) / 1000);
            }
            await tab.mouse.up();
        } else if (!result.pageError) {
            await dragWith("left", width / 6, height / 10);
            await shot("turned");
            await press("Space");
            await shot("reframed");
            await dragWith("right", width / 8, -height / 8);
            await shot("panned");
            const before = await frames();
            await tab.mouse.move(width / 2, height / 2);
            await tab.mouse.wheel(0, 300);
            await drawn(before);
            await shot("zoomed");
            await press("Space");
            await shot("reframed_again");
            result.camera = await tab.evaluate(() => window.voxelView.camera.camera);
        }
    } finally {
        await context.close();
        fs.rmSync(profile, { recursive: true, force: true });
    }
    process.stdout.write(JSON.stringify(result) + "\n");
}

main().catch((error) => {
    process.stderr.write(String(error && error.stack || error) + "\n");
    process.exit(1);
});
