#include "render/offscreen_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <cstdlib>
#include <cstring>
#include <vector>

// The size of the framebuffer the context draws into, which the read-back
// copies; 0 x 0 until one is made.
struct OffscreenFrame {
    int width, height;
};
static OffscreenFrame offscreenFrame = {};

// The framebuffer-object entry points are not part of GL 1.1, which is all
// the GL library promises to export; EGL hands them over.
struct FramebufferCalls {
    PFNGLGENFRAMEBUFFERSPROC genFramebuffers;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer;
    PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus;
};

template <typename T> static bool lookUp(const char* name, T* out) {
    *out = reinterpret_cast<T>(eglGetProcAddress(name));
    return *out != nullptr;
}

static bool hasExtension(const char* list, const char* name) {
    if (!list)
        return false;
    size_t n = strlen(name);
    for (const char* p = list; (p = strstr(p, name)) != nullptr; p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0'))
            return true;
    return false;
}

// Whether the current GL context lists `name` among its extensions.
static bool hasGlExtension(const char* name) {
    PFNGLGETSTRINGIPROC extension = nullptr;
    if (!lookUp("glGetStringi", &extension))
        return hasExtension(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)), name);
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; ++i) {
        const char* each = reinterpret_cast<const char*>(extension(GL_EXTENSIONS, GLuint(i)));
        if (each && strcmp(each, name) == 0)
            return true;
    }
    return false;
}

static std::string eglErrorName() {
    EGLint code = eglGetError();
    switch (code) {
    case EGL_NOT_INITIALIZED:
        return "EGL_NOT_INITIALIZED";
    case EGL_BAD_ALLOC:
        return "EGL_BAD_ALLOC";
    case EGL_BAD_MATCH:
        return "EGL_BAD_MATCH";
    case EGL_BAD_CONFIG:
        return "EGL_BAD_CONFIG";
    case EGL_BAD_ATTRIBUTE:
        return "EGL_BAD_ATTRIBUTE";
    case EGL_BAD_DISPLAY:
        return "EGL_BAD_DISPLAY";
    case EGL_BAD_PARAMETER:
        return "EGL_BAD_PARAMETER";
    default: {
        char text[32];
        snprintf(text, sizeof text, "EGL error 0x%04x", unsigned(code));
        return text;
    }
    }
}

static bool fail(std::string* error, const std::string& what) {
    *error = "no usable EGL: " + what;
    return false;
}

bool openOffscreenContext(int w, int h, std::string* error) {
    // Mesa reports each driver it fails to load on stderr; the one line
    // below says what went wrong, so keep its warnings to fatal ones unless
    // the user asked for more.
    setenv("EGL_LOG_LEVEL", "fatal", 0);
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless"))
        return fail(error, "the EGL library has no surfaceless platform (Mesa's "
                           "EGL_MESA_platform_surfaceless)");
    PFNEGLGETPLATFORMDISPLAYEXTPROC getPlatformDisplay = nullptr;
    if (!lookUp("eglGetPlatformDisplayEXT", &getPlatformDisplay))
        return fail(error, "eglGetPlatformDisplayEXT is missing");
    EGLDisplay display =
        getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY)
        return fail(error, "no surfaceless display (" + eglErrorName() + ")");
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor))
        return fail(error,
                    "the surfaceless display cannot be initialised (" + eglErrorName() + ")");
    auto giveUp = [&](const std::string& what) {
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglTerminate(display);
        return fail(error, what);
    };
    if (!hasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context"))
        return giveUp("contexts without a surface are not supported");
    // The fixed-function pipeline the viewer draws with: desktop GL in a
    // compatibility context, which is what a context asked for with no
    // version or profile is.
    if (!eglBindAPI(EGL_OPENGL_API))
        return giveUp("no desktop OpenGL (" + eglErrorName() + ")");
    // Any surface type: the context draws into its own framebuffer object,
    // and the surfaceless platform offers no window configurations, which
    // are what a choice without EGL_SURFACE_TYPE asks for.
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_DONT_CARE, EGL_RENDERABLE_TYPE,
                                       EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1)
        return giveUp("no configuration for desktop OpenGL (" + eglErrorName() + ")");
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT)
        return giveUp("no OpenGL context (" + eglErrorName() + ")");
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context))
        return giveUp("the OpenGL context cannot be made current (" + eglErrorName() + ")");

    FramebufferCalls gl = {};
    if (!lookUp("glGenFramebuffers", &gl.genFramebuffers) ||
        !lookUp("glBindFramebuffer", &gl.bindFramebuffer) ||
        !lookUp("glGenRenderbuffers", &gl.genRenderbuffers) ||
        !lookUp("glBindRenderbuffer", &gl.bindRenderbuffer) ||
        !lookUp("glRenderbufferStorage", &gl.renderbufferStorage) ||
        !lookUp("glFramebufferRenderbuffer", &gl.framebufferRenderbuffer) ||
        !lookUp("glCheckFramebufferStatus", &gl.checkFramebufferStatus))
        return giveUp("the OpenGL driver has no framebuffer objects");
    GLint largest = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largest);
    if (w > largest || h > largest) {
        *error = "the picture may be at most " + std::to_string(largest) + " pixels a side here";
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglTerminate(display);
        return false;
    }
    GLuint framebuffer = 0, buffers[2] = {0, 0};
    gl.genFramebuffers(1, &framebuffer);
    gl.bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl.genRenderbuffers(2, buffers);
    gl.bindRenderbuffer(GL_RENDERBUFFER, buffers[0]);
    gl.renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, w, h);
    gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, buffers[0]);
    // The viewer's window asks for "a depth buffer" and gets Mesa's deepest,
    // 32-bit unsigned normalised; the same depth resolves ties between
    // touching cubes the same way.
    gl.bindRenderbuffer(GL_RENDERBUFFER, buffers[1]);
    gl.renderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT32, w, h);
    gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, buffers[1]);
    if (glGetError() != GL_NO_ERROR ||
        gl.checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        *error = "no " + std::to_string(w) + " x " + std::to_string(h) +
                 " framebuffer to draw into (not enough memory?)";
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglTerminate(display);
        return false;
    }
    // Mesa stores a window's rows from the top and draws into it through a
    // flipped viewport; a framebuffer object is stored from the bottom. The
    // two rasterise the same triangles with last-bit differences in depth
    // where surfaces meet, so the picture would differ from the viewer's in
    // a pixel here and there. Mesa lets a framebuffer object be stored as a
    // window is; GL's own coordinates, read-back included, stay as they are.
    if (hasGlExtension("GL_MESA_framebuffer_flip_y")) {
        PFNGLFRAMEBUFFERPARAMETERIPROC parameter = nullptr;
        if (lookUp("glFramebufferParameteri", &parameter))
            parameter(GL_FRAMEBUFFER, GL_FRAMEBUFFER_FLIP_Y_MESA, GL_TRUE);
    }
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    offscreenFrame = {w, h};
    return true;
}

void readOffscreenPixels(int channels, uint8_t* pixels) {
    const int w = offscreenFrame.width, h = offscreenFrame.height;
    const size_t rowBytes = size_t(w) * size_t(channels);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, channels == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, pixels);
    // GL's rows start at the bottom.
    std::vector<uint8_t> row(rowBytes);
    for (int y = 0; y < h / 2; ++y) {
        uint8_t* top = pixels + size_t(y) * rowBytes;
        uint8_t* bottom = pixels + size_t(h - 1 - y) * rowBytes;
        memcpy(row.data(), top, rowBytes);
        memcpy(top, bottom, rowBytes);
        memcpy(bottom, row.data(), rowBytes);
    }
}
