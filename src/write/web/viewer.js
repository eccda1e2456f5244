// The page's viewer: decodes and inflates the model embedded in the page (a
// .glb file of one mesh: positions, texture coordinates, indices and a PNG
// texture sampled nearest), draws it unlit on black with WebGL through the
// viewer's framing and frustum, and turns, pans and zooms it with
// voxelCamera.
"use strict";

(function () {
    var canvas = document.getElementById("view");
    var label = document.getElementById("label");
    var state = { frames: 0, ready: false, error: "", camera: voxelCamera };
    window.voxelView = state;

    function fail(message) {
        state.error = message;
        label.textContent = message;
        label.className = "failed";
    }

    // The embedded bytes: each character stands for the byte the table
    // gives it; the escape byte and a digit 0 to 3 stand for one of four
    // rare bytes, so that the text holds no NUL, carriage return or "<".
    function decodeModel(element) {
        var length = Number(element.getAttribute("data-length"));
        var table = hexBytes(element.getAttribute("data-bytes"));
        var escapes = hexBytes(element.getAttribute("data-escapes"));
        var text = element.textContent;
        element.textContent = "";
        var codes = new TextDecoder("windows-1252").decode(Uint8Array.from({ length: 256 }, function (_, i) { return i; }));
        var byteOf = new Uint8Array(65536);
        for (var i = 0; i < 256; ++i) byteOf[codes.charCodeAt(i)] = i;
        var escape = 0x1b, digit0 = 0x30;
        var out = new Uint8Array(length), n = 0;
        for (var j = 0; j < text.length && n < length; ++j) {
            var b = byteOf[text.charCodeAt(j)];
            if (b === escape) {
                var k = byteOf[text.charCodeAt(++j)] - digit0;
                if (!(k >= 0 && k < 4)) return null;
                out[n++] = escapes[k];
            } else {
                out[n++] = table[b];
            }
        }
        return n === length && j === text.length ? out : null;
    }

    function hexBytes(hex) {
        var bytes = new Uint8Array(hex.length / 2);
        for (var i = 0; i < bytes.length; ++i) bytes[i] = parseInt(hex.substr(2 * i, 2), 16);
        return bytes;
    }

    // The mesh's arrays and texture from the .glb's two chunks.
    function readGlb(bytes) {
        var view = new DataView(bytes.buffer);
        if (bytes.length < 20 || view.getUint32(0, true) !== 0x46546c67 || view.getUint32(8, true) !== bytes.length)
            return null;
        var jsonLength = view.getUint32(12, true);
        var json = JSON.parse(new TextDecoder("utf-8").decode(bytes.subarray(20, 20 + jsonLength)));
        var bin = 20 + jsonLength + 8;
        function viewOf(accessor) {
            var v = json.bufferViews[json.accessors[accessor].bufferView];
            return { offset: bin + (v.byteOffset || 0), length: v.byteLength };
        }
        var primitive = json.meshes[0].primitives[0];
        var positions = viewOf(primitive.attributes.POSITION), texcoords = viewOf(primitive.attributes.TEXCOORD_0);
        var indices = viewOf(primitive.indices);
        var image = json.bufferViews[json.images[0].bufferView];
        return {
            positions: new Float32Array(bytes.buffer, positions.offset, positions.length / 4),
            texcoords: new Float32Array(bytes.buffer, texcoords.offset, texcoords.length / 4),
            indices: new Uint32Array(bytes.buffer, indices.offset, indices.length / 4),
            image: bytes.subarray(bin + (image.byteOffset || 0), bin + (image.byteOffset || 0) + image.byteLength),
        };
    }

    var vertexShader =
        "attribute vec3 position; attribute vec2 texcoord;\n" +
        "uniform mat4 projection; uniform mat4 modelview; varying highp vec2 uv;\n" +
        "void main() { uv = texcoord; gl_Position = projection * (modelview * vec4(position, 1.0)); }\n";
    var fragmentShader =
        "#ifdef GL_FRAGMENT_PRECISION_HIGH\nprecision highp float;\n#else\nprecision mediump float;\n#endif\n" +
        "uniform sampler2D atlas; varying highp vec2 uv;\n" +
        "void main() { gl_FragColor = vec4(texture2D(atlas, uv).rgb, 1.0); }\n";

    function compile(gl, type, source) {
        var shader = gl.createShader(type);
        gl.shaderSource(shader, source);
        gl.compileShader(shader);
        return shader;
    }

    // The viewer's frustum: 38.94 degrees across the window's diagonal,
    // depth from distance / 20 to distance * 20, in floats as there.
    function frustumMatrix(w, h, distance) {
        var f = Math.fround;
        var near = f(distance / 20), far = f(distance * 20);
        var diag = f(Math.sqrt(w * w + h * h));
        var top = f(f(f(f(h / diag) * 0.5) * voxelCamera.invSqrt2) * near);
        var right = f(f(f(f(w / diag) * 0.5) * voxelCamera.invSqrt2) * near);
        return new Float32Array([near / right, 0, 0, 0, 0, near / top, 0, 0,
                                 0, 0, -(far + near) / (far - near), -1, 0, 0, -2 * far * near / (far - near), 0]);
    }

    // The power of two the viewer scales a far or near scene by (1 for
    // pivot distances between 2^-20 and 2^20).
    function viewScale(distance) {
        if (!(distance > 0) || !isFinite(distance)) return 1;
        var exponent = Math.floor(Math.log2(distance));
        if (Math.pow(2, exponent) > distance) --exponent;
        else if (Math.pow(2, exponent + 1) <= distance) ++exponent;
        if (exponent >= -20 && exponent <= 20) return 1;
        return Math.pow(2, -Math.max(exponent, -126));
    }

    // scale x R(angle, axis) x translate(-eye), column by column.
    function modelviewMatrix(camera, scale) {
        var a = camera.axis, n = Math.hypot(a[0], a[1], a[2]) || 1;
        var x = a[0] / n, y = a[1] / n, z = a[2] / n;
        var radians = Math.fround(camera.angle * 57.29577951308232) * Math.PI / 180;
        var c = Math.cos(radians), s = Math.sin(radians), t = 1 - c;
        var r = [t * x * x + c, t * x * y + s * z, t * x * z - s * y,
                 t * x * y - s * z, t * y * y + c, t * y * z + s * x,
                 t * x * z + s * y, t * y * z - s * x, t * z * z + c];
        var e = camera.eye, m = new Float32Array(16);
        for (var col = 0; col < 3; ++col)
            for (var row = 0; row < 3; ++row) m[4 * col + row] = scale * r[3 * col + row];
        for (row = 0; row < 3; ++row)
            m[12 + row] = -scale * (r[row] * e[0] + r[3 + row] * e[1] + r[6 + row] * e[2]);
        m[15] = 1;
        return m;
    }

    // The zlib stream inflated by the browser itself.
    function inflate(bytes) {
        var stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate"));
        return new Response(stream).arrayBuffer();
    }

    function start() {
        var element = document.getElementById("model");
        var glbLength = Number(element.getAttribute("data-glb-length"));
        if (document.characterSet.toLowerCase() !== "windows-1252")
            return fail("This page was saved in another character set (" + document.characterSet + "); its model cannot be read.");
        if (typeof DecompressionStream === "undefined")
            return fail("This browser is too old to open this page: it cannot inflate the model (DecompressionStream).");
        var bytes = decodeModel(element);
        if (!bytes) return fail("This page's model is damaged.");
        inflate(bytes).then(function (buffer) {
            var mesh = buffer.byteLength === glbLength && readGlb(new Uint8Array(buffer));
            if (!mesh) return fail("This page's model is damaged.");
            show(mesh, element.getAttribute("data-framing").split(" ").map(Number));
        }, function () {
            fail("This page's model is damaged: it cannot be inflated.");
        });
    }

    function show(mesh, framing) {
        var gl = canvas.getContext("webgl", { antialias: false, alpha: false, depth: true, premultipliedAlpha: false });
        if (!gl || !gl.getExtension("OES_element_index_uint"))
            return fail("This browser cannot draw with WebGL, which the model needs.");

        var program = gl.createProgram();
        gl.attachShader(program, compile(gl, gl.VERTEX_SHADER, vertexShader));
        gl.attachShader(program, compile(gl, gl.FRAGMENT_SHADER, fragmentShader));
        gl.linkProgram(program);
        if (!gl.getProgramParameter(program, gl.LINK_STATUS)) return fail("WebGL refused the page's shaders.");
        gl.useProgram(program);
        function buffer(target, data) {
            var b = gl.createBuffer();
            gl.bindBuffer(target, b);
            gl.bufferData(target, data, gl.STATIC_DRAW);
        }
        function attribute(name, data, size) {
            buffer(gl.ARRAY_BUFFER, data);
            var at = gl.getAttribLocation(program, name);
            gl.enableVertexAttribArray(at);
            gl.vertexAttribPointer(at, size, gl.FLOAT, false, 0, 0);
        }
        attribute("position", mesh.positions, 3);
        attribute("texcoord", mesh.texcoords, 2);
        buffer(gl.ELEMENT_ARRAY_BUFFER, mesh.indices);
        var indexCount = mesh.indices.length;
        var projectionAt = gl.getUniformLocation(program, "projection");
        var modelviewAt = gl.getUniformLocation(program, "modelview");

        voxelCamera.frame([framing[0], framing[1], framing[2]], framing[3]);
        var pending = false;
        function draw() {
            pending = false;
            var now = performance.now() / 1000;
            if (voxelCamera.spin(now)) redraw();
            var dpr = window.devicePixelRatio || 1;
            var w = Math.max(1, Math.round(canvas.clientWidth * dpr)), h = Math.max(1, Math.round(canvas.clientHeight * dpr));
            if (canvas.width !== w || canvas.height !== h) {
                canvas.width = w;
                canvas.height = h;
            }
            var camera = voxelCamera.camera, scale = viewScale(camera.distance);
            gl.viewport(0, 0, w, h);
            gl.clearColor(0, 0, 0, 1);
            gl.clearDepth(1);
            gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
            gl.enable(gl.DEPTH_TEST);
            gl.depthFunc(gl.LESS);
            gl.enable(gl.CULL_FACE);
            gl.cullFace(gl.BACK);
            gl.uniformMatrix4fv(projectionAt, false, frustumMatrix(w, h, Math.fround(camera.distance * scale)));
            gl.uniformMatrix4fv(modelviewAt, false, modelviewMatrix(camera, scale));
            gl.drawElements(gl.TRIANGLES, indexCount, gl.UNSIGNED_INT, 0);
            state.frames++;
        }
        function redraw() {
            if (state.ready && !pending) {
                pending = true;
                requestAnimationFrame(draw);
            }
        }

        // Buttons as the viewer numbers them: left 4, middle 2, right 1.
        function heldButtons(event) {
            var b = event.buttons;
            return (b & 1 ? 4 : 0) | (b & 4 ? 2 : 0) | (b & 2 ? 1 : 0);
        }
        function pointerEvent(event, buttonChanged) {
            voxelCamera.pointerEvent(heldButtons(event), event.clientX, event.clientY, canvas.clientWidth,
                                     canvas.clientHeight, performance.now() / 1000, buttonChanged);
            redraw();
        }
        function buttonEvent(event) {
            event.preventDefault();
            pointerEvent(event, true);
        }
        canvas.addEventListener("mousedown", buttonEvent);
        window.addEventListener("mouseup", buttonEvent);
        window.addEventListener("mousemove", function (event) {
            pointerEvent(event, false);
        });
        canvas.addEventListener("contextmenu", function (event) {
            event.preventDefault();
        });
        // A wheel notch (100 pixels, 3 lines) is two zoom steps, as a notch
        // is in the viewer; finer wheels and touch pads add up to whole steps.
        var wheelSteps = 0;
        canvas.addEventListener("wheel", function (event) {
            event.preventDefault();
            var scale = event.deltaMode === 1 ? 3 : event.deltaMode === 2 ? 1 : 100;
            wheelSteps += 2 * event.deltaY / scale;
            var steps = Math.trunc(wheelSteps);
            wheelSteps -= steps;
            voxelCamera.wheel(steps, heldButtons(event), event.clientX, event.clientY, canvas.clientWidth,
                              canvas.clientHeight, performance.now() / 1000);
            redraw();
        }, { passive: false });
        window.addEventListener("keydown", function (event) {
            if (!voxelCamera.key(event.key)) return;
            event.preventDefault();
            redraw();
        });
        window.addEventListener("resize", redraw);

        var maxSide = gl.getParameter(gl.MAX_TEXTURE_SIZE);
        createImageBitmap(new Blob([mesh.image], { type: "image/png" }), { premultiplyAlpha: "none", colorSpaceConversion: "none" })
            .then(function (picture) {
                if (picture.width > maxSide || picture.height > maxSide)
                    return fail("This model's colours need a texture of " + picture.width + " x " + picture.height +
                                " texels; this browser's graphics take at most " + maxSide + " a side.");
                var texture = gl.createTexture();
                gl.bindTexture(gl.TEXTURE_2D, texture);
                gl.pixelStorei(gl.UNPACK_COLORSPACE_CONVERSION_WEBGL, gl.NONE);
                gl.pixelStorei(gl.UNPACK_PREMULTIPLY_ALPHA_WEBGL, false);
                gl.pixelStorei(gl.UNPACK_FLIP_Y_WEBGL, false);
                gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGB, gl.RGB, gl.UNSIGNED_BYTE, picture);
                gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
                gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
                gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
                gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
                state.ready = true;
                redraw();
            }, function () {
                fail("This page's model is damaged: its texture cannot be read.");
            });
    }

    start();
})();
