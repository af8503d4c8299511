#include "uJournalRows.h"
