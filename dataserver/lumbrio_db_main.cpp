// lumbrio-db: creates a store database, empty or with the demo catalogue.
#include <cstdio>

#include <QCoreApplication>
#include <QTextStream>

#include "dataserver/storetool.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return lumbrio::runStoreTool(QCoreApplication::arguments().mid(1), out, err);
}
