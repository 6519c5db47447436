#pragma once
// A cursor file: one short line of text beside the data it points into (where an export or the
// publisher got to). Every cursor the program keeps goes through here, whatever its line says.
//
// The line ends in a checksum ("... #1a2b"), and a new line goes to a temporary file that is
// synced and renamed over the old one, the folder synced after it: a crash or a power cut
// leaves the old cursor or the new one, and anything else (a torn write on a card without
// power-loss protection, garbage, an empty file) reads as damaged, never as a cursor. A link
// in place of the file is refused, read or written: a link planted in a shared data folder
// must not make the program overwrite the file it points to.
#include <QString>

namespace hx {

struct CursorLine {
    enum class State { Missing, Good, Damaged };
    State state = State::Missing;
    QString text;   // the line without its checksum, when Good
    QString reason; // why it is Damaged, in a few words (English, for a log or a tool)
};

// A line without a checksum (written before cursors carried one) is taken as it stands; the
// caller's parser judges it.
CursorLine readCursorLine(const QString& path);
// False with *error (the path and the reason) when it could not be written; the old file is
// then left as it was.
bool writeCursorLine(const QString& path, const QString& text, QString* error);

} // namespace hx
