#pragma once
// Creating an empty recording database: the two tables and the pointer row (0, 0), in
// write-ahead-log mode. The recorder and the history review never create one; the
// installer's hx5800-initdb does.
#include <QString>

namespace hx {

// Creates the database file at path (and its folder). Refuses when a file is already
// there; with replaceExisting the old file and its journal files are removed first.
// On failure returns false and sets *error.
bool createRecordDatabase(const QString& path, bool replaceExisting, QString* error);

} // namespace hx
