#include "link/uLinkLog.h"

Q_LOGGING_CATEGORY(lcLink, "quadrel.link", QtInfoMsg)
