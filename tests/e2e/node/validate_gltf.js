// Runs the Khronos glTF Validator on each file named and prints one JSON
// line per file: its counts of errors, warnings and infos and the first
// messages. Files a .gltf names are read from beside it.
const fs = require("fs");
const path = require("path");
const validator = require("gltf-validator");

async function validate(file) {
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
        uri: path.basename(file),
        maxIssues: 100,
        externalResourceFunction: (uri) =>
            new Promise((resolve, reject) => {
                const name = path.join(path.dirname(file), decodeURIComponent(uri));
                fs.readFile(name, (err, data) => (err ? reject(err) : resolve(new Uint8Array(data))));
            }),
    });
    return {
        file,
        errors: report.issues.numErrors,
        warnings: report.issues.numWarnings,
        infos: report.issues.numInfos,
        messages: report.issues.messages.slice(0, 10),
        triangles: report.info ? report.info.totalTriangleCount : null,
    };
}

(async () => {
    for (const file of process.argv.slice(2))
        console.log(JSON.stringify(await validate(file)));
})().catch((err) => {
    console.error(String(err));
    process.exit(1);
});
