// tarn: the window program.

#include <QApplication>

#include "TarnApp.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    CTarnApp tarn;
    int nExit = 0;
    if (!tarn.InitInstance(QCoreApplication::arguments(), &nExit))
        return nExit;
    return QApplication::exec();
}
