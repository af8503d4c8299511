#pragma once
// The project file: the operator's descriptions of the twenty outputs, as
//   <project><relay_table><relay hint="..."/> x 20</relay_table></project>
// The k-th `relay` belongs to output k.

#include <QString>

#include <array>
#include <optional>

using TzProjectHints = std::array<QString, 20>;
using TzStoredHints = std::array<std::optional<QString>, 20>;

// True when the file parses and its root is `project`. Position i of the table's children (every
// child counts, whatever its name) fills aHints[i] when it is a `relay` with a `hint`; positions
// 20 and beyond are ignored.
bool ReadProjectFile(const QString &aFileName, TzStoredHints &aHints);

// Replaces the file with a project of exactly twenty `relay` elements; false and the reason in
// aError when it could not.
bool WriteProjectFile(const QString &aFileName, const TzProjectHints &aHints, QString *aError);
