#include "accounts/NewAccoForm.h"
#include "admin/MainForm.h"
#include "app/CommandLine.h"
#include "ui/AppTitle.h"
#include "ui/Fonts.h"
#include "ui/Terminate.h"

#include <QApplication>

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

    // The sign-in runs inside the main window's creation.
    auto* mainForm = new TMainForm();
    NewAccoForm = new TNewAccoForm();

    int result = 0;
    if (!TerminateRequested()) {
        mainForm->show();
        result = QApplication::exec();
    }

    delete NewAccoForm;
    NewAccoForm = nullptr;
    delete mainForm;
    return result;
}
