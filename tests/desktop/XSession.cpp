#include "tests/desktop/XSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <cstring>
#include <sstream>
#include <cstdio>
#include <cstdlib>

#include "tests/support/Processes.h"

extern char** environ;

namespace orvella::test {

namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || x.rfind(name, 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

// The number after `key` in xwininfo's output.
int Field(const std::string& text, const std::string& key) {
  const std::size_t at = text.find(key);
  return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + key.size());
}

}  // namespace

bool Child::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                  const std::string& logPath, int keepFd) {
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = MergedEnvironment(env);
  const std::vector<char*> argp = Pointers(args);
  const std::vector<char*> envp = Pointers(environment);
  const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const pid_t parent = ::getpid();
  exit_.reset();
  pid_ = ::fork();
  if (pid_ == 0) {
    // A test that dies does not leave its X server or host behind.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, 0);
    ::dup2(log, 1);
    ::dup2(log, 2);
    if (keepFd >= 0) ::dup2(keepFd, 3);
    if (keepFd == 3) ::fcntl(3, F_SETFD, 0);
    ::execvpe(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  if (log >= 0) ::close(log);
  return pid_ > 0;
}

bool Child::Running() {
  if (pid_ < 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
  exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  pid_ = -1;
  return false;
}

std::optional<int> Child::WaitExit(std::chrono::milliseconds timeout) {
  WaitUntil([this] { return !Running(); }, timeout);
  return exit_;
}

void Child::Signal(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

void Child::Stop() {
  if (!Running()) return;
  Signal(SIGTERM);
  if (WaitExit(std::chrono::seconds(5))) return;
  Signal(SIGKILL);
  WaitExit(std::chrono::seconds(5));
}

bool XServer::Start(bool windowManager, std::string& error) {
  // Xvfb writes the display number it took into descriptor 3 once it accepts clients.
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    error = "no pipe";
    return false;
  }
  const std::string log = home_.File("xvfb.log");
  const bool started = xvfb_.Start({"Xvfb", "-displayfd", "3", "-screen", "0",
                                    std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24",
                                    "-nolisten", "tcp", "-noreset"},
                                   {}, log, pipeFds[1]);
  ::close(pipeFds[1]);
  std::string number;
  pollfd p{pipeFds[0], POLLIN, 0};
  while (started && ::poll(&p, 1, 10000) > 0) {
    char c = 0;
    if (::read(pipeFds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  ::close(pipeFds[0]);
  if (!started || number.empty()) {
    error = "Xvfb could not be started (see " + log + ")";
    return false;
  }
  display_ = ":" + number;
  if (!windowManager) return true;
  windowManager_ = true;
  if (!wm_.Start({"openbox"}, {"DISPLAY=" + display_, "XDG_CONFIG_HOME=" + home_.File("config")},
                 home_.File("openbox.log"))) {
    error = "openbox could not be started";
    return false;
  }
  // The window manager is running once it announces itself on the root window.
  if (!WaitUntil([this] {
        const auto out = Run("xprop -root _NET_SUPPORTING_WM_CHECK");
        return out && out->find("window id") != std::string::npos;
      })) {
    error = "openbox did not take over the display";
    return false;
  }
  return true;
}

std::optional<std::string> XServer::Run(const std::string& commandLine) const {
  const CommandRun r = RunCommand("DISPLAY=" + display_ + " " + commandLine + " 2>/dev/null");
  if (r.exitCode != 0) return std::nullopt;
  return r.output;
}

bool XServer::Xdotool(const std::string& arguments) const {
  return Run("xdotool " + arguments).has_value();
}

// Without --sync: it waits for a pointer motion, which never comes when the pointer is
// already there.
void XServer::Click(QPoint at, int button, int repeat) const {
  Xdotool("mousemove " + std::to_string(at.x()) + " " + std::to_string(at.y()) +
          " sleep 0.03 click --repeat " + std::to_string(repeat) + " --delay 60 " + std::to_string(button));
}

void XServer::Drag(QPoint from, QPoint to) const {
  std::ostringstream a;
  a << "mousemove " << from.x() << ' ' << from.y() << " sleep 0.05 mousedown 1";
  for (int step = 1; step <= 4; ++step) {
    const QPoint p = from + (to - from) * step / 4;
    a << " sleep 0.05 mousemove " << p.x() << ' ' << p.y();
  }
  a << " sleep 0.05 mouseup 1";
  Xdotool(a.str());
}

void XServer::Wheel(QPoint at, bool down, int notches) const {
  Click(at, down ? 5 : 4, notches);
}

std::optional<XWindow> XServer::FindWindow(const std::string& titleRegex) const {
  const auto ids = Run("xdotool search --onlyvisible --name '" + titleRegex + "'");
  if (!ids || ids->empty()) return std::nullopt;
  XWindow w;
  w.Id = std::stoul(*ids);
  const std::string id = std::to_string(w.Id);
  const auto info = Run("xwininfo -id " + id);
  if (!info || info->find("IsViewable") == std::string::npos) return std::nullopt;
  w.Client = QRect(Field(*info, "Absolute upper-left X:"), Field(*info, "Absolute upper-left Y:"),
                   Field(*info, "Width:"), Field(*info, "Height:"));
  // _NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom
  if (const auto extents = Run("xprop -id " + id + " _NET_FRAME_EXTENTS")) {
    int l = 0, r = 0, t = 0, b = 0;
    const std::size_t eq = extents->find('=');
    if (eq != std::string::npos &&
        std::sscanf(extents->c_str() + eq + 1, "%d, %d, %d, %d", &l, &r, &t, &b) == 4)
      w.Frame = QMargins(l, t, r, b);
  }
  return w;
}

QPoint XServer::CloseBox(const XWindow& w) {
  // openbox's default theme: the close button ends 5 pixels inside the frame's right
  // edge and is 12 pixels wide, centred on the title bar.
  const QRect outer = w.Outer();
  return {outer.right() - 10, outer.top() + w.Frame.top() / 2};
}

QImage XServer::Screenshot(const std::string& path) const {
  if (!Run("import -window root '" + path + "'")) return {};
  return QImage(QString::fromStdString(path));
}

}  // namespace orvella::test
