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

int main(int argc, char* argv[])
{
    if (const auto status = AnswerInfoOptions(argc, argv, std::cout))
        return *status;
    QApplication app(argc, argv);
    UseFontFallbacks();
    // The display name follows the application name. Set on its own, it
    // would be appended to every window title ("KVS - admin — ...").
    QApplication::setApplicationName(ApplicationTitle());

    // The sign-in runs inside the start-up.
    const auto audit = MakeSystemLogSink();
    SecurityManager manager(QDir::currentPath(), audit.get());
    manager.start();

    int result = 0;
    if (!TerminateRequested()) {
        manager.mainForm()->show();
        result = QApplication::exec();
    }
    return result;
}
