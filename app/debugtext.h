#pragma once

#include <QString>

#include <cstdio>

namespace lumbrio {

/// The text with every control character (0x00 to 0x1F and DEL) written as its name in angle
/// brackets, <STX>, <ETX>, <EOT>, ..., so a debug line shows the framing bytes and stays one line.
QString visibleControls(QStringView text);

/// Writes one debug line to out in UTF-8, control characters shown visibly, and flushes it so
/// that a reader of a pipe or of the journal sees it at once.
void writeDebugLine(std::FILE *out, QStringView line);

/// A start-up message as one text for a console or a message box: the carriage return of the
/// stored texts becomes a line break.
QString displayText(const QString &message);

} // namespace lumbrio
