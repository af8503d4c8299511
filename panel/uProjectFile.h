#pragma once
// The project file: the operator's descriptions of the twenty outputs, as
//   <project><relay_table><relay hint="..."/> x 20</relay_table></project>
// The k-th `relay` belongs to output k.

#include <QString>

#include <array>
#include <optional>

using TzProjectHints = std::array<QString, 20>;
using TzStoredHints = std::array<std::optional<QString>, 20>;

// Damaged: not well-formed XML, or beyond the readers' bounds (see uXmlSettings.h). ForeignRoot:
// well-formed, but no project. Unreadable: it cannot be opened. NotAFile: a folder, a device, a
// pipe or a link to none of them.
enum class TzProjectRead { Missing, Valid, Damaged, ForeignRoot, Unreadable, NotAFile };

// Position i of the table's children (every child element counts, whatever its name) fills
// aHints[i] when it is a `relay` with a `hint`; positions 20 and beyond are ignored. The file is
// read as a stream: a file damaged part way keeps in aHints the descriptions that came whole
// before the damage. aReason receives why a file that is there was not read whole (Russian,
// without the file's name).
TzProjectRead ReadProject(const QString &aFileName, TzStoredHints &aHints, QString *aReason = nullptr);

// True when the file was read whole with the root `project` (ReadProject gives Valid).
bool ReadProjectFile(const QString &aFileName, TzStoredHints &aHints);

// Replaces the file with a project of exactly twenty `relay` elements; false and the reason in
// aError when it could not.
bool WriteProjectFile(const QString &aFileName, const TzProjectHints &aHints, QString *aError);
