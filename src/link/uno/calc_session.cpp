#include "link/uno/calc_session.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/connection/ConnectionSetupException.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XEventListener.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <rtl/bootstrap.hxx>
#include <sstream>

extern char** environ;

namespace tersolv::link::uno {

using namespace css;

Reference<css::uno::XComponentContext> LocalContext() {
  static std::mutex mutex;
  // Kept until the process ends and never destroyed: the UNO runtime may be
  // torn down before static destructors run.
  static auto* context = new Reference<css::uno::XComponentContext>();
  std::lock_guard lock(mutex);
  if (!context->is()) {
    // The office is reached through a pipe: when it dies between two calls,
    // the next write must fail as a lost connection (a LinkError), not end
    // the program with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    rtl::Bootstrap::set(OUString("URE_BOOTSTRAP"),
                        OUString("vnd.sun.star.pathname:" TERSOLV_LO_PROGRAM_DIR "/fundamentalrc"));
    *context = cppu::defaultBootstrap_InitialComponentContext();
  }
  return *context;
}

namespace {

long long SteadyNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string Seconds(std::chrono::milliseconds ms) {
  std::ostringstream out;
  out << static_cast<double>(ms.count()) / 1000.0 << " s";
  return out.str();
}

// Marks the session gone when the bridge goes away (the office ended, the
// connection broke or was cut).
class BridgeWatcher : public cppu::WeakImplHelper1<lang::XEventListener> {
 public:
  explicit BridgeWatcher(std::function<void()> onGone) : onGone_(std::move(onGone)) {}
  void SAL_CALL disposing(const lang::EventObject&) override { onGone_(); }

 private:
  std::function<void()> onGone_;
};

// Text of a configuration value of the installation (e.g. "7.4"), "" if absent.
std::string InstallationValue(const std::string& file, const std::string& key, const std::string& open,
                              const std::string& close) {
  std::ifstream in(file);
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  const std::size_t at = text.find(key);
  if (at == std::string::npos) return "";
  const std::size_t start = text.find(open, at);
  if (start == std::string::npos) return "";
  const std::size_t end = text.find(close, start + open.size());
  if (end == std::string::npos || end - start > 200) return "";
  return text.substr(start + open.size(), end - start - open.size());
}

}  // namespace

OUString ToOUString(const std::string& text) {
  return rtl::OStringToOUString(rtl::OString(text.c_str(), static_cast<sal_Int32>(text.size())), RTL_TEXTENCODING_UTF8);
}

std::string ToUtf8(const OUString& text) {
  const rtl::OString bytes = rtl::OUStringToOString(text, RTL_TEXTENCODING_UTF8);
  return std::string(bytes.getStr(), static_cast<std::size_t>(bytes.getLength()));
}

std::string DefaultPipeName() {
  const char* name = std::getenv("TERSOLV_PIPE");
  return name && *name ? name : "tersolv";
}

bool SeedProfile(const std::string& folder) {
  namespace fs = std::filesystem;
  const fs::path user = fs::path(folder) / "user";
  const fs::path file = user / "registrymodifications.xcu";
  std::error_code error;
  if (fs::exists(file, error)) return true;
  fs::create_directories(user, error);
  if (error) return false;
  const std::string program = TERSOLV_LO_PROGRAM_DIR;
  const std::string version =
      InstallationValue(program + "/../share/registry/main.xcd", "\"ooSetupVersion\">", "<value>", "</value>");
  const std::string build = InstallationValue(program + "/versionrc", "buildid=", "=", "\n");
  std::ofstream out(file);
  auto item = [&out](const char* path, const char* name, const std::string& value) {
    out << "<item oor:path=\"" << path << "\"><prop oor:name=\"" << name << "\" oor:op=\"fuse\"><value>" << value
        << "</value></prop></item>\n";
  };
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
         "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  item("/org.openoffice.Office.Common/Misc", "FirstRun", "false");
  item("/org.openoffice.Setup/Office", "ooSetupInstCompleted", "true");
  if (!version.empty()) item("/org.openoffice.Setup/Product", "ooSetupLastVersion", version);
  if (!build.empty()) item("/org.openoffice.Setup/Office", "LastCompatibilityCheckID", build);
  out << "</oor:items>\n";
  return static_cast<bool>(out);
}

// --- EventHub ---

void EventHub::Post(const std::weak_ptr<HandlerSlot>& slot, const CellRange& range) {
  std::function<void()> wakeup;
  {
    std::lock_guard lock(mutex_);
    if (!enabled_) return;
    queue_.push_back({slot, range});
    wakeup = wakeup_;
  }
  if (wakeup) wakeup();
}

int EventHub::Deliver() {
  std::deque<Pending> pending;
  {
    std::lock_guard lock(mutex_);
    pending.swap(queue_);
  }
  int delivered = 0;
  for (const Pending& p : pending) {
    if (auto slot = p.Slot.lock(); slot && slot->Handler) {
      slot->Handler(p.Range);
      ++delivered;
    }
  }
  return delivered;
}

void EventHub::SetEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

bool EventHub::Enabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void EventHub::SetWakeup(std::function<void()> wakeup) {
  std::lock_guard lock(mutex_);
  wakeup_ = std::move(wakeup);
}

// --- CalcSession ---

CalcSession::CalcSession(const CalcOptions& options)
    : options_(options), pipe_(options.PipeName.empty() ? DefaultPipeName() : options.PipeName) {
  for (char c : pipe_) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.'))
      throw LinkError(kBadArgument, "Pipe names may hold letters, digits, '_', '-' and '.': \"" + pipe_ + "\"");
  }
  try {
    local_ = LocalContext();
  } catch (const css::uno::Exception& e) {
    throw LinkError(kApplicationGone, "Could not start the UNO runtime: " + ToUtf8(e.Message));
  }
  watchdog_ = std::thread([this] { Watch(); });
  try {
    if (!TryConnect()) {
      if (!options_.Start) throw LinkError(kApplicationGone, "No LibreOffice Calc answers on pipe \"" + pipe_ + "\"");
      StartOffice();
    }
  } catch (...) {
    {
      std::lock_guard lock(watchMutex_);
      stopWatch_ = true;
    }
    watchWake_.notify_all();
    watchdog_.join();
    throw;
  }
}

CalcSession::~CalcSession() {
  {
    std::lock_guard lock(watchMutex_);
    stopWatch_ = true;
  }
  watchWake_.notify_all();
  if (watchdog_.joinable()) watchdog_.join();
  // Leaves the office running: only this process's connection ends.
  CutConnection();
  if (startedPid_ > 0) ::waitpid(static_cast<pid_t>(startedPid_), nullptr, WNOHANG);
}

bool CalcSession::TryConnect() {
  gone_ = false;
  timedOut_ = false;
  Reference<connection::XConnection> connection;
  try {
    connection = connection::Connector::create(local_)->connect("pipe,name=" + ToOUString(pipe_));
  } catch (const connection::NoConnectException&) {
    return false;
  } catch (const connection::ConnectionSetupException&) {
    return false;
  } catch (const css::uno::Exception& e) {
    throw LinkError(kApplicationGone,
                    "Could not connect to LibreOffice Calc on pipe \"" + pipe_ + "\": " + ToUtf8(e.Message));
  }
  {
    std::lock_guard lock(connectionMutex_);
    connection_ = connection;
  }
  Call(
      "connect",
      [&] {
        Reference<bridge::XBridge> bridge =
            bridge::BridgeFactory::create(local_)->createBridge(OUString(), "urp", connection, nullptr);
        {
          std::lock_guard lock(connectionMutex_);
          bridge_ = bridge;
        }
        remote_.set(bridge->getInstance("StarOffice.ComponentContext"), css::uno::UNO_QUERY_THROW);
        desktop_ = frame::Desktop::create(remote_);
        // A second bridge of this process to the same office is useless: the
        // UNO runtime maps the office's objects onto the proxies of the
        // first, and the second reports itself ended at once.
        Reference<lang::XComponent>(bridge, css::uno::UNO_QUERY_THROW)->addEventListener(new BridgeWatcher([this] {
          gone_ = true;
        }));
        if (gone_)
          throw LinkError(kApplicationGone, "This program is connected to the LibreOffice Calc on pipe \"" + pipe_ +
                                                "\" already: one connection per program and office");
      },
      options_.StartTimeout);
  return true;
}

void CalcSession::StartOffice() {
  std::vector<std::string> args = {options_.Soffice, "--accept=pipe,name=" + pipe_ + ";urp;", "--norestore",
                                   "--nologo"};
  if (options_.Headless) {
    args.push_back("--headless");
    args.push_back("--invisible");
  }
  if (!options_.ProfileFolder.empty()) {
    const std::filesystem::path folder = std::filesystem::absolute(options_.ProfileFolder);
    if (options_.SeedProfile) ::tersolv::link::uno::SeedProfile(folder.string());
    args.push_back("-env:UserInstallation=file://" + folder.string());
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);  // survives this program and its terminal
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, argv[0], &files, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  if (failed != 0)
    throw LinkError(kApplicationGone, "Could not start \"" + options_.Soffice + "\": " + std::strerror(failed));
  startedPid_ = pid;
  if (options_.Started) options_.Started(pid);

  const auto deadline = std::chrono::steady_clock::now() + options_.StartTimeout;
  bool exited = false;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (TryConnect()) return;
    // A second soffice hands its request to the running one and ends with
    // status 0: keep waiting for the pipe. Any other end is a failure.
    if (!exited && ::waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::ostringstream message;
        message << "LibreOffice Calc (" << options_.Soffice << ") ended at start with status "
                << (WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        throw LinkError(kApplicationGone, message.str());
      }
    }
  }
  throw LinkError(kApplicationGone, "LibreOffice Calc did not answer on pipe \"" + pipe_ + "\" within " +
                                        Seconds(options_.StartTimeout) + " of its start");
}

void CalcSession::Watch() {
  std::unique_lock lock(watchMutex_);
  while (!stopWatch_) {
    watchWake_.wait_for(lock, std::chrono::milliseconds(100));
    const long long deadline = deadline_.load();
    if (deadline != 0 && SteadyNanos() > deadline && !gone_) {
      timedOut_ = true;
      gone_ = true;
      lock.unlock();
      CutConnection();
      lock.lock();
    }
  }
}

void CalcSession::CutConnection() {
  Reference<bridge::XBridge> bridge;
  Reference<connection::XConnection> connection;
  {
    std::lock_guard lock(connectionMutex_);
    bridge = bridge_;
    connection = connection_;
  }
  try {
    if (bridge.is()) {
      Reference<lang::XComponent>(bridge, css::uno::UNO_QUERY_THROW)->dispose();
    } else if (connection.is()) {
      connection->close();
    }
  } catch (const css::uno::Exception&) {
  }
}

void CalcSession::ThrowTranslated(const char* what, int number, const OUString& message) {
  std::string text;
  if (number == kApplicationGone) {
    text = timedOut_ ? "LibreOffice Calc did not answer within the time allowed (" + std::string(what) +
                           "); the connection to it was closed"
                     : "LibreOffice Calc does not answer (the connection to it is lost)";
  } else {
    // The office's messages are often only a source location ("at ./sc/...").
    const std::string detail = ToUtf8(message);
    text = std::string(what) + " failed";
    if (number == kBadArgument) {
      text += ": an index or a cell address is out of range";
    } else if (!detail.empty() && detail.rfind("at ", 0) != 0) {
      text += ": " + detail;
    }
  }
  throw LinkError(number, text);
}

bool CalcSession::Answers() {
  try {
    return remote_.is() && remote_->getServiceManager().is();
  } catch (const css::uno::Exception&) {
    return false;
  }
}

void CalcSession::Translate(const char* what) {
  try {
    throw;
  } catch (const lang::DisposedException& e) {
    // A closed document's objects say "disposed" too: only a lost
    // connection makes the office gone.
    if (!gone_ && !Answers()) gone_ = true;
    ThrowTranslated(what, gone_ ? kApplicationGone : kOtherError, e.Message);
  } catch (const lang::IndexOutOfBoundsException& e) {
    ThrowTranslated(what, kBadArgument, e.Message);
  } catch (const lang::IllegalArgumentException& e) {
    ThrowTranslated(what, kBadArgument, e.Message);
  } catch (const io::IOException& e) {
    ThrowTranslated(what, kFileError, e.Message);
  } catch (const css::uno::RuntimeException& e) {
    if (gone_) ThrowTranslated(what, kApplicationGone, OUString());
    ThrowTranslated(what, kOtherError, e.Message);
  } catch (const css::uno::Exception& e) {
    ThrowTranslated(what, kOtherError, e.Message);
  }
}

}  // namespace tersolv::link::uno
