// tersolv-panel: the always-on-top panel beside LibreOffice Calc.
//
//   tersolv-panel [--extended-range | /ie/] [--help]
//
// It attaches to the LibreOffice Calc that listens on the pipe "tersolv"
// ($TERSOLV_PIPE names another), or starts one, and keeps its working folder
// in Tersolv.ini beside the program (or in ~/.config/tersolv/ where the
// program folder is not writable).
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include <QApplication>
#include <QDir>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QStringList>

#include "link/link.h"
#include "shell/qt/form1.h"
#include "shell/shell.h"

#ifdef TERSOLV_PANEL_WITH_UNO
#include "link/uno/calc_application.h"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: tersolv-panel [--extended-range | /ie/] [--help]\n"
    "\n"
    "The Tersolv panel: an always-on-top window beside LibreOffice Calc that\n"
    "creates and opens data files, reads their points and calculates them.\n"
    "\n"
    "  --extended-range, /ie/  lift the temperature and pressure limits of the\n"
    "                          input (also /IE, or /ie anywhere on the line)\n"
    "  --help                  show this text\n"
    "\n"
    "Environment: TERSOLV_PIPE names the pipe on which LibreOffice listens\n"
    "(default \"tersolv\"); the template Tersolv.xlsx must stand beside the\n"
    "program. Exit status: 0 after a normal close, 1 when the panel could not\n"
    "start (no LibreOffice Calc, working folder equal to the program folder).\n";

// A termination signal (logout, kill, Ctrl-C) closes the window the normal
// way, so that the settings file is written: the handler only wakes the
// event loop through a socket pair.
int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

void CloseOnTerminationSignals(QWidget& window) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char byte = 0;
    [[maybe_unused]] const ssize_t got = ::read(signalPipe[1], &byte, 1);
    window.close();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kUsage;
      return 0;
    }
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName("Tersolv");

  tersolv::shell::Form1 form;
  tersolv::shell::QtPrompter prompter(&form);

  QStringList arguments = QCoreApplication::arguments();
  if (!arguments.isEmpty()) arguments.removeFirst();

  tersolv::shell::Environment environment;
  environment.ProgramFolder = QCoreApplication::applicationDirPath().toStdString();
  environment.HomeFolder = QDir::homePath().toStdString();
  if (const char* config = std::getenv("XDG_CONFIG_HOME")) environment.ConfigHome = config;
  environment.CommandLine = arguments.join(' ').toStdString();
  environment.DecimalSeparator = tersolv::link::SystemDecimalSeparator();

#ifdef TERSOLV_PANEL_WITH_UNO
  tersolv::shell::Shell* shellPointer = nullptr;
  tersolv::link::uno::CalcApplication* calc = nullptr;
  environment.StartApplication = [&]() -> std::unique_ptr<tersolv::link::Application> {
    tersolv::link::uno::CalcOptions options;
    options.DecimalSeparator = environment.DecimalSeparator;
    auto office = std::make_unique<tersolv::link::uno::CalcApplication>(options);
    calc = office.get();
    // Change notifications arrive on a thread of the UNO runtime; they are
    // handed to the bridge on this thread, from the event loop.
    office->SetEventWakeup([&form, &calc, &shellPointer] {
      QMetaObject::invokeMethod(
          &form,
          [&calc, &shellPointer] {
            if (calc == nullptr || shellPointer == nullptr || shellPointer->Ended) return;
            try {
              calc->ProcessEvents();
            } catch (const std::exception&) {
              // The office went away; the next activation reports it.
            }
          },
          Qt::QueuedConnection);
    });
    return office;
  };
#else
  environment.StartApplication = []() -> std::unique_ptr<tersolv::link::Application> {
    throw tersolv::link::LinkError(tersolv::link::kApplicationGone,
                                   "this build of tersolv-panel has no LibreOffice Calc link "
                                   "(configure with the LibreOffice SDK, libreoffice-dev)");
  };
#endif

  tersolv::shell::Shell shell(form, prompter, environment);
#ifdef TERSOLV_PANEL_WITH_UNO
  shellPointer = &shell;
#endif
  form.SetShell(&shell);
  shell.Form_Load();
  if (shell.Ended) {
    if (!shell.StartError.empty()) std::cerr << "tersolv-panel: " << shell.StartError << '\n';
    return shell.ExitCode;
  }
  CloseOnTerminationSignals(form);
  const int status = QApplication::exec();
#ifdef TERSOLV_PANEL_WITH_UNO
  calc = nullptr;
#endif
  form.SetShell(nullptr);
  return shell.ExitCode != 0 ? shell.ExitCode : status;
}
