#include "gui/app/Application.h"

#include "core/app/ExportCommand.h"

#include "core/app/AppRegistry.h"
#include "core/app/ProgramFolder.h"
#include "core/net/Account.h"
#include "core/net/AccountSecrets.h"
#include "core/platform/GatheringDialogs.h"
#include "core/platform/Paths.h"
#include "core/platform/SecretStore.h"
#include "core/platform/SingleInstance.h"
#include "gui/app/DocumentRecovery.h"
#include "gui/app/MainForm.h"
#include "gui/app/Trace.h"
#include "gui/platform/QtEventLoop.h"
#include "gui/platform/QtUiServices.h"

#include <QApplication>
#include <QMessageBox>

#include <cstring>
#include <iostream>
#include <optional>

namespace morvane::app {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

int importSettings(platform::Registry& registry, const char* file) {
    auto r = registry.importFile(file, {"HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane",
                                        "HKEY_LOCAL_MACHINE\\Software\\Orvandel\\Morvane"});
    for (auto& p : registry.takeProblems())
        std::cerr << "morvane: " << p << "\n";
    if (!r.ok) {
        std::cerr << "morvane: " << r.error << "\n";
        return 1;
    }
    std::cout << "Imported " << r.values << " values in " << r.keys << " keys into "
              << registry.dir().string() << ".";
    if (r.skippedKeys) std::cout << " Skipped " << r.skippedKeys << " keys of other programs.";
    std::cout << "\n";
    return 0;
}

// Adds or updates the account "Demo" (used by the run script's demo server).
// args: HOST PORT USER PASSWORD DIRECTORY, then "--tls" for the demo's TLS account or "--sftp"
// for its SFTP account.
int setDemoAccount(platform::Registry& registry, char** args, bool tls, bool sftp) {
    const std::string name = sftp ? "DemoSFTP" : tls ? "DemoTLS" : "Demo";
    auto port = net::PortFromText(args[1]);
    if (!port) {
        std::cerr << "morvane: '" << args[1] << "' is not a port number (1 to 65535).\n";
        return 2;
    }
    net::TAccount account;
    bool known = net::LoadAccount(registry, name, account); // keeps options the user set, if any
    account.Name = name;
    if (sftp) account.Protocol = net::TRemoteProtocol::Sftp;
    // Its server requires TLS with a certificate made for the demo: the first connection
    // shows the certificate question.
    if (tls && !known) account.Tls = net::TTlsMode::Require;
    account.Hostname = args[0];
    account.Port = *port;
    account.Username = args[2];
    if (std::string(args[3]) == "-") {
        // From standard input: a password in the arguments is in every user's process list.
        std::string line;
        std::getline(std::cin, line);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        account.Password = line;
    } else {
        std::cerr << "morvane: warning: a password given as an argument can be read by every "
                     "user of this machine; give \"-\" and pass it on standard input\n";
        account.Password = args[3];
    }
    account.PromptForPassword = false;
    account.UseFirewall = false;
    account.Directory = args[4];
    std::string error;
    if (!net::SaveAccount(registry, name, account, &error)) {
        std::cerr << "morvane: " << error << " " << registry.lastError() << "\n";
        return 1;
    }
    return 0;
}

void usage() {
    std::cout << "Usage: morvane [FILE | MORVANE://ACCOUNT:PATH]...\n"
                 "       morvane --version\n"
                 "       morvane --browse ACCOUNT [FILE]...   (the Open command on ACCOUNT)\n"
                 "       morvane --set-demo-account HOST PORT USER - DIRECTORY [--tls|--sftp]   "
                 "(password "
                 "on standard input)\n"
                 "       morvane /InstWeblinks\n"
                 "       morvane --import-settings EXPORT.reg\n"
                 "       morvane --export html|rtf FILE -o OUT [--highlighter NAME]\n"
                 "Settings: "
              << platform::Registry::defaultDir().string() << "\n";
}

// Shows a message before any window exists, on a display if there is one.
void earlyError(int& argc, char** argv, const std::string& text) {
    std::cerr << "morvane: " << text << "\n";
    // Nobody would see a box on an offscreen or missing display, and it would wait forever.
    if ((qEnvironmentVariableIsEmpty("DISPLAY") &&
         qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) ||
        qEnvironmentVariable("QT_QPA_PLATFORM") == "offscreen")
        return;
    std::optional<QApplication> app;
    if (!QApplication::instance()) app.emplace(argc, argv);
    QMessageBox::critical(nullptr, "Morvane", QString::fromStdString(text));
}

// Whether Qt has a display to connect to: a window system's, or a platform named outright.
bool displayExpected(int argc, char** argv) {
    if (!qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "-platform") || !std::strcmp(argv[i], "--platform")) return true;
    return false;
}

} // namespace

int runMorvane(int argc, char** argv) {
    trace("start");
    if (argc >= 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        usage();
        return 0;
    }
    if (argc >= 2 && !std::strcmp(argv[1], "--version")) {
        std::cout << "morvane " << programFileVersion() << "\n";
        return 0;
    }
    platform::Registry registry(platform::Registry::defaultDir());
    if (argc >= 2 && !std::strcmp(argv[1], "--import-settings")) {
        if (argc != 3) {
            usage();
            return 2;
        }
        return importSettings(registry, argv[2]);
    }
    // Runs without a display, so that a script can export a whole folder.
    if (argc >= 2 && !std::strcmp(argv[1], "--export")) {
        ExportRequest request;
        std::string error;
        if (!parseExportArguments(std::vector<std::string>(argv + 2, argv + argc), request,
                                  error)) {
            std::cerr << "morvane: " << error << "\n";
            usage();
            return 2;
        }
        return runExport(request, registry, resourcesFolder(), defaultProgramFolder(), std::cerr);
    }
    if (argc >= 2 && !std::strcmp(argv[1], "--set-demo-account")) {
        bool tls = argc == 8 && !std::strcmp(argv[7], "--tls");
        bool sftp = argc == 8 && !std::strcmp(argv[7], "--sftp");
        if (argc != 7 && !tls && !sftp) {
            usage();
            return 2;
        }
        return setDemoAccount(registry, argv + 2, tls, sftp);
    }

    // Qt takes its own options (-platform, -style, -stylesheet...) out of argc and argv first,
    // so that they are never taken for files. Installing the weblinks needs no display, and
    // without one Qt would end the process: a start that only hands its files over must work.
    std::optional<QApplication> app;
    if (!(argc >= 2 && !std::strcmp(argv[1], "/InstWeblinks")) && displayExpected(argc, argv)) {
        app.emplace(argc, argv);
        QApplication::setApplicationName("Morvane");
        QApplication::setApplicationDisplayName("Morvane");
    }

    // Relative paths mean this process's working folder; made absolute now, they keep that
    // meaning when handed to a running instance or saved later.
    std::vector<std::string> arguments(argv, argv + argc);
    std::string browseAccount;
    if (arguments.size() >= 2 && arguments[1] == "--browse") {
        if (arguments.size() < 3) {
            usage();
            return 2;
        }
        browseAccount = arguments[2];
        arguments.erase(arguments.begin() + 1, arguments.begin() + 3);
    }
    for (std::size_t i = 1; i < arguments.size(); ++i)
        if (!platform::isRemoteReference(arguments[i]))
            arguments[i] = platform::absolutePath(arguments[i]);
    std::optional<platform::SingleInstance> instance;
    std::string instanceProblem;
    // A start that browses an account runs as its own instance: whoever started it (the demo)
    // waits for this window, not for a hand-over that returns at once.
    if (browseAccount.empty() && singleInstanceEnabled(registry)) {
        instance.emplace(platform::defaultRuntimeDir());
        switch (instance->claim()) {
        case platform::SingleInstance::Role::First:
            break;
        case platform::SingleInstance::Role::Second: {
            auto block = platform::encodeHandOver(arguments);
            if (!block.error.empty()) {
                earlyError(argc, argv, block.error);
                return 1;
            }
            if (!instance->handOver(block.bytes, 15s)) {
                earlyError(argc, argv, instance->error());
                return 1;
            }
            trace("handed-over");
            return 0;
        }
        case platform::SingleInstance::Role::Failed:
            // Without the lock the program still runs, only as one more instance; the user is
            // told once a window can show it.
            instanceProblem = instance->error();
            std::cerr << "morvane: " << instanceProblem << "\n";
            trace("single-instance-failed");
            instance.reset();
            break;
        }
    }

    fs::path programFolder = defaultProgramFolder();
    fs::path resources = resourcesFolder();
    if (argc >= 2 && !std::strcmp(argv[1], "/InstWeblinks")) {
        if (!installDefaultWeblinks(registry, programFolder)) {
            std::cerr << "morvane: " << registry.lastError() << "\n";
            return 1;
        }
        return 0;
    }

    if (!app) {
        app.emplace(argc, argv);
        QApplication::setApplicationName("Morvane");
        QApplication::setApplicationDisplayName("Morvane");
    }
    platform::QtDialogs dialogs;
    platform::QtClipboard clipboard;
    platform::QtShell shell;
    auto loop = platform::makeQtEventLoop();

    if (std::string e = seedProgramFolder(programFolder, resources); !e.empty())
        dialogs.message(platform::MsgKind::Warning, e, platform::mbOK);
    if (!instanceProblem.empty())
        dialogs.message(platform::MsgKind::Warning, instanceProblem, platform::mbOK);
    FirstRunResult firstRun = performFirstRun(registry);
    for (auto& problem : registry.takeProblems()) {
        trace("settings-problem");
        std::cerr << "morvane: " << problem << "\n";
        dialogs.message(platform::MsgKind::Warning, problem, platform::mbOK);
    }
    registry.onProblem = [&dialogs](const std::string& problem) {
        dialogs.message(platform::MsgKind::Warning, problem, platform::mbOK);
    };
    if (firstRun == FirstRunResult::CouldNotWrite) {
        dialogs.message(platform::MsgKind::Plain, kCouldNotWriteRegistry, platform::mbOK);
        return 1;
    }

    // Account passwords: in the desktop keyring when one answers (its requests run on a worker
    // thread and are answered on the loop, so a locked or dead keyring never freezes the window),
    // otherwise in the settings file.
    // A minute: long enough to type the keyring's password at its unlock prompt.
    auto keyring = platform::makeDesktopSecretStore(*loop, 60s);
    net::TAccountSecrets secrets(registry, *loop, keyring.get(), 65s);
    secrets.onProblem = [&dialogs](const std::string& problem) {
        dialogs.message(platform::MsgKind::Warning, problem, platform::mbOK);
    };
    secrets.start();

    // Hand-overs open with their notices gathered into one message (see the listener below).
    platform::GatheringDialogs gathering(dialogs);
    AppContext context;
    context.registry = &registry;
    context.dialogs = &gathering;
    context.clipboard = &clipboard;
    context.shell = &shell;
    context.loop = loop.get();
    context.secrets = &secrets;
    context.programFolder = programFolder;
    context.resources = resources;
    context.arguments.assign(arguments.begin() + 1, arguments.end());
    context.browseAccount = browseAccount;
    // Test harnesses keep the program off the network.
    context.updateCheck = !qEnvironmentVariableIsSet("MORVANE_NO_UPDATE_CHECK");

    // Before the window: its documents keep their recovery files through it.
    TRecoveryService recovery(platform::defaultStateDir() / "recovery");
    context.recovery = &recovery;
    context.sessionFile = platform::defaultStateDir() / "session";

    TMainForm form(context);
    dialogs.setParent(&form);
    recovery.setDialogs(&dialogs);
    // The listener delivers one hand-over at a time from the loop; the problems of its files
    // make one message rather than a box per file.
    if (instance && !instance->listen(*loop, [&form, &gathering](std::vector<std::string> handed) {
            gathering.beginGathering();
            struct End {
                platform::GatheringDialogs& g;
                ~End() {
                    g.endGathering("Some of the files handed to Morvane could not be opened:");
                }
            } end{gathering};
            form.handOverReceived(handed);
        }))
        std::cerr << "morvane: " << instance->error() << "\n";
    form.show();
    int code = app->exec();
    instance.reset(); // stops listening while the loop it watches on still exists
    registry.onProblem = nullptr;
    return code;
}

} // namespace morvane::app
