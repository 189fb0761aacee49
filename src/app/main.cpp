// Quorvane: unattended, scheduled backups of one Firebird/InterBase database.
#include <QApplication>

#include "Platform.h"
#include "Quorv.h"
#include "QtApplication.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    qv::QtApplication application;
    qv::SetApplication(&application);
    qv::InstallFontSubstitutes();

    qv::TQuorvaneForm form;
    application.SetMainWindow(&form);
    application.CloseOnTerminationSignals();
    if (application.ShowMainForm) form.show();
    return QApplication::exec();
}
