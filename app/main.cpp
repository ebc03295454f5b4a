#include "admin/MainForm.h"
#include "app/CommandLine.h"
#include "app/SecurityManager.h"
#include "audit/SystemLog.h"
#include "ui/AppTitle.h"
#include "ui/Fonts.h"
#include "ui/Terminate.h"

#include <QApplication>
#include <QDir>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    StartRequest request;
    if (const auto status = readCommandLine(argc, argv, std::cout, std::cerr, request))
        return *status;
    // Checked before any folder is made: Qt would abort without a display.
    if (!request.platformChosen && !displayAvailable()) {
        std::cerr << "larkledger-security: no display found (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set).\n"
                     "The Security Manager is a desktop program; run it in a graphical "
                     "session.\n";
        return 1;
    }
    if (const auto status = enterStartFolder(request, std::cerr))
        return *status;

    // Qt sees its own options only: a folder named like one of them must not
    // reach it.
    std::vector<std::string> qtArguments{argc > 0 ? argv[0] : "larkledger-security"};
    qtArguments.insert(qtArguments.end(), request.qtArguments.begin(), request.qtArguments.end());
    std::vector<char*> qtArgv;
    for (std::string& argument : qtArguments)
        qtArgv.push_back(argument.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArguments.size());

    QApplication app(qtArgc, qtArgv.data());
    useFontFallbacks();
    // The display name follows the application name. Set on its own, it
    // would be appended to every window title ("KVS - admin — ...").
    QApplication::setApplicationName(applicationTitle());

    // The sign-in runs inside the start-up.
    const auto audit = makeSystemLogSink();
    SecurityManager manager(QDir::currentPath(), audit.get());
    manager.start();

    int result = 0;
    if (!terminateRequested()) {
        manager.mainForm()->show();
        result = QApplication::exec();
    }
    return result;
}
