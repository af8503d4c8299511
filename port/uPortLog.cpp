#include "port/uPortLog.h"

Q_LOGGING_CATEGORY(lcPort, "quadrel.port", QtInfoMsg)
