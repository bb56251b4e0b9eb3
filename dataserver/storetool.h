#pragma once

#include <QStringList>
#include <QTextStream>

namespace lumbrio {

/// The lumbrio-db command line, without the program name:
///   init DEST [--force]              an empty store
///   demo DEST [--items N] [--force]  the demo catalogue, plus N generated items
/// DEST is a SQLite file path or a postgresql:// URI. Returns the exit status: 0 done,
/// 1 the store could not be written, 2 a usage error.
int runStoreTool(const QStringList &args, QTextStream &out, QTextStream &err);

} // namespace lumbrio
