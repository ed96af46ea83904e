// Driving the real program the way a user does: its own X server (Xvfb),
// keys typed through the server (XTest), its windows found by process id,
// and what is on the screen read back.  For end-to-end tests and benchmarks.
#pragma once

// Qt before Xlib, whose macros (Status, Bool, None) clash with Qt's names.
#include <QImage>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velmora::testing {

using Clock = std::chrono::steady_clock;

// Polls `condition` every `every` (5 ms unless told) until it holds; false
// after `ms`.
template <typename Condition>
bool pollUntil(Condition condition, int ms, std::chrono::microseconds every = std::chrono::milliseconds(5)) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(every);
    }
    return true;
}

// A child process that is stopped (SIGTERM, then SIGKILL) when it goes.
class Child {
public:
    Child() = default;
    // Starts argv[0] with `env` added, in `folder`, standard error into
    // `stderrPath` (when given).  Returns false when it cannot start.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
               const std::string& folder = {}, const std::string& stderrPath = {}, int keepFd = -1) {
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with us, however we end
            if (!folder.empty() && ::chdir(folder.c_str()) != 0) ::_exit(126);
            for (const auto& e : env) ::putenv(::strdup(e.c_str()));
            if (!stderrPath.empty()) {
                const int fd = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd >= 0) ::dup2(fd, 2);
            }
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            for (int fd = 3; fd < 1024; ++fd)
                if (fd != keepFd) ::close(fd);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        return true;
    }
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool running() {
        reap(false);
        return pid_ > 0;
    }
    // Waits up to `ms` for the child to end; its exit status, or nothing.
    std::optional<int> waitExit(int ms) {
        pollUntil([&] { return !running(); }, ms);
        return pid_ > 0 ? std::nullopt : status_;
    }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        if (!waitExit(3000)) {
            ::kill(pid_, SIGKILL);
            reap(true);
        }
    }

private:
    void reap(bool block) {
        if (pid_ <= 0) return;
        int status = 0;
        if (::waitpid(pid_, &status, block ? 0 : WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
        }
    }
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// An Xvfb of our own on the first free display, gone with this object.
class XServer {
public:
    explicit XServer(const char* screen = "1280x1024x24") {
        int fds[2];
        if (::pipe(fds) != 0) return;
        const std::string size = screen;
        server_.start({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", size, "-nolisten",
                       "tcp", "-noreset"},
                      {}, {}, "/dev/null", fds[1]);
        ::close(fds[1]);
        char buf[32] = {};
        size_t got = 0;
        while (got < sizeof buf - 1) {
            const ssize_t n = ::read(fds[0], buf + got, sizeof buf - 1 - got);
            if (n <= 0 || std::memchr(buf, '\n', got + static_cast<size_t>(n))) {
                if (n > 0) got += static_cast<size_t>(n);
                break;
            }
            got += static_cast<size_t>(n);
        }
        ::close(fds[0]);
        if (got > 0) display_ = ":" + std::string(buf, std::strcspn(buf, "\n"));
    }
    const std::string& display() const { return display_; }
    pid_t pid() const { return server_.pid(); }

private:
    Child server_;
    std::string display_;
};

// A connection to the X server and what a test does through it.
class XSession {
public:
    explicit XSession(const std::string& display) : dpy_(XOpenDisplay(display.c_str())) {
        // Windows come and go while we look at them: such errors are expected.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    ~XSession() {
        if (dpy_) XCloseDisplay(dpy_);
    }
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    bool ok() const { return dpy_ != nullptr; }
    Display* display() const { return dpy_; }

    struct TopLevel {
        Window id;
        std::string name;
    };

    // The mapped top-level windows of process `pid`, oldest first.
    std::vector<TopLevel> windowsOf(pid_t pid) {
        std::vector<TopLevel> out;
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(dpy_, DefaultRootWindow(dpy_), &root, &parent, &children, &count)) return out;
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes a{};
            if (!XGetWindowAttributes(dpy_, children[i], &a) || a.map_state != IsViewable || a.override_redirect)
                continue;
            if (cardinal(children[i], "_NET_WM_PID") != static_cast<long>(pid)) continue;
            out.push_back({children[i], name(children[i])});
        }
        if (children) XFree(children);
        return out;
    }

    // The title of a window, in UTF-8.
    std::string name(Window w) {
        const Atom utf8 = XInternAtom(dpy_, "UTF8_STRING", False);
        const std::string s = property(w, "_NET_WM_NAME", utf8);
        return s.empty() ? property(w, "WM_NAME", XA_STRING) : s;
    }

    void focus(Window w) {
        XRaiseWindow(dpy_, w);
        XSetInputFocus(dpy_, w, RevertToParent, CurrentTime);
        XSync(dpy_, False);
    }

    // A key going down or up, as the keyboard sends it.
    void key(KeySym sym, bool down) {
        XTestFakeKeyEvent(dpy_, XKeysymToKeycode(dpy_, sym), down, CurrentTime);
        XSync(dpy_, False);
    }
    // A press and release, with modifiers held around it.
    void tap(KeySym sym, std::initializer_list<KeySym> modifiers = {}) {
        for (KeySym m : modifiers) key(m, true);
        key(sym, true);
        key(sym, false);
        for (KeySym m : modifiers) key(m, false);
    }
    // Types plain ASCII text.
    void type(const std::string& text) {
        for (char c : text) {
            char name[2] = {c, 0};
            KeySym sym = XStringToKeysym(name);
            switch (c) {
                case '/': sym = XK_slash; break;
                case '-': sym = XK_minus; break;
                case '.': sym = XK_period; break;
                case '_': sym = XK_underscore; break;
                case ' ': sym = XK_space; break;
            }
            const KeyCode code = XKeysymToKeycode(dpy_, sym);
            const bool shifted = XkbKeycodeToKeysym(dpy_, code, 0, 0) != sym;
            tap(sym, shifted ? std::initializer_list<KeySym>{XK_Shift_L} : std::initializer_list<KeySym>{});
        }
    }

    // What the window shows now, all of it or the part at (x, y) of the
    // size given (cut to the window).
    QImage grab(Window w, int x = 0, int y = 0, int width = -1, int height = -1) {
        XWindowAttributes a{};
        if (!XGetWindowAttributes(dpy_, w, &a)) return {};
        width = std::min(width < 0 ? a.width : width, a.width - x);
        height = std::min(height < 0 ? a.height : height, a.height - y);
        if (width <= 0 || height <= 0) return {};
        XImage* img = XGetImage(dpy_, w, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes,
                                ZPixmap);
        if (!img) return {};
        QImage out;
        if (img->bits_per_pixel == 32)
            out = QImage(reinterpret_cast<const uchar*>(img->data), img->width, img->height, img->bytes_per_line,
                         QImage::Format_RGB32)
                      .copy();
        XDestroyImage(img);
        return out;
    }

    // The window that owns the clipboard, 0 when none does.
    Window clipboardOwner() { return XGetSelectionOwner(dpy_, XInternAtom(dpy_, "CLIPBOARD", False)); }

private:
    std::string property(Window w, const char* prop, Atom type) {
        Atom actual = 0;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        std::string out;
        if (XGetWindowProperty(dpy_, w, XInternAtom(dpy_, prop, False), 0, 4096, False, type, &actual, &format, &n,
                               &after, &data) == Success &&
            data && format == 8)
            out.assign(reinterpret_cast<const char*>(data), n);
        if (data) XFree(data);
        return out;
    }
    long cardinal(Window w, const char* prop) {
        Atom actual = 0;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        long out = -1;
        if (XGetWindowProperty(dpy_, w, XInternAtom(dpy_, prop, False), 0, 1, False, XA_CARDINAL, &actual, &format,
                               &n, &after, &data) == Success &&
            data && n == 1 && format == 32)
            out = *reinterpret_cast<long*>(data);
        if (data) XFree(data);
        return out;
    }

    Display* dpy_;
};

}  // namespace velmora::testing
