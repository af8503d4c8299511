#pragma once
// The link's logging category, "quadrel.link". Lines meant for the operator go out through the
// link's LogLine signal; this category carries them (at debug level) to standard error when the
// logging rules ask for it, e.g. QT_LOGGING_RULES="quadrel.link.debug=true".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)
