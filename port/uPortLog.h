#pragma once
// The port engine's logging category, "quadrel.port": warnings for failures (a line lost),
// information for news (a line back, a failed exchange's text). Info and above are on by
// default; QT_LOGGING_RULES can turn on debug or send them to standard error as well.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPort)
